#include "console/single_send.h"

#include <array>
#include <cstring>
#include <string>

#include "console/console_texts.h"
#include "platform/serve_wait.h"
#include "ui/log.h"

namespace morlane {

namespace {

using namespace console_text;

// The unit ends its answer line with a carriage return within two seconds; 128 bytes is
// more than any answer it gives.
constexpr int kLineCapacity = 128;
constexpr int kLineSeconds = 2;

std::string TypedCommand(DialogContext& context) {
  AppendLogLine(context.window, kSendMcuCommand);
  AppendLogLine(context.window, context.values.commandText);
  std::string command = context.values.commandText;
  if (context.values.plusEnter) command += '\r';
  return command;
}

int SendOverHid(DialogContext& context, std::mutex& linkMutex) {
  CHIDControl& hid = context.session.Hid();
  if (hid.IsOpen() != 1) {
    AppendLogLine(context.window, kOpenDeviceFirst);
    return 0;
  }
  context.values.SaveFromControls(context.window);
  std::string command = TypedCommand(context);
  CHIDControl::Reply reply{};
  int written = 0;
  int answered = 0;
  {
    // The command test's worker may be in the middle of an exchange on the link.
    std::unique_lock lock = LockServing(linkMutex, context.clock);
    written = hid.WriteCommand(command);
    if (written) answered = hid.ReadReply(reply);
  }
  if (!written) {
    AppendLogLine(context.window, kWriteReportError);
    return 0;
  }
  if (!answered) {
    AppendLogLine(context.window, kReadError);
    return 0;
  }
  AppendLogLine(context.window, ReplyText(reply));
  return 1;
}

int SendOverSerial(DialogContext& context, std::mutex& linkMutex) {
  CSerialLink& serial = context.session.Serial();
  context.values.SaveFromControls(context.window);
  std::string command = TypedCommand(context);
  // One byte more than the line may fill, so that the text always ends in a zero, even
  // when the carriage return comes as the 128th byte.
  std::array<uint8_t, kLineCapacity + 1> line{};
  int got = 0;
  {
    // The command test's worker may be in the middle of an exchange on the link.
    std::unique_lock lock = LockServing(linkMutex, context.clock);
    // An empty command writes nothing; the answer line is awaited all the same.
    serial.SendBytes(reinterpret_cast<const uint8_t*>(command.data()),
                     static_cast<int>(command.size()));
    got = serial.ReadLine(line.data(), kLineCapacity, kLineSeconds);
  }
  int result = 0;
  if (got) {
    const char* text = reinterpret_cast<const char*>(line.data());
    AppendLogLine(context.window, std::string_view(text, std::strlen(text)));
    result = 1;
  } else {
    AppendLogLine(context.window, kWriteReportError);
  }
  context.values.LoadIntoControls(context.window);
  return result;
}

}  // namespace

int SendSingleCommand(DialogContext& context, std::mutex& linkMutex) {
  switch (context.session.sessionState) {
    case SessionState::Hid:
      return SendOverHid(context, linkMutex);
    case SessionState::Serial:
      return SendOverSerial(context, linkMutex);
    default:
      AppendLogLine(context.window, kOpenDeviceFirst);
      return 0;
  }
}

}  // namespace morlane
