// The serial port and the HID device on a handle whose transfers never complete: a pipe
// with a one-byte buffer that nobody reads, as a COM port with no hardware behind it
// behaves. Every call must end within its time-out (and the short wait for the cancelled
// transfer), report nothing sent, and leave the next call and the close safe.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/hid_win32.h"
#include "platform/monotonic.h"
#include "platform/serial_win32.h"

namespace morlane {
namespace {

// Far more than the pipe can hold, so that a write stays pending.
constexpr int kBytes = 64 * 1024;
// The time-out given, and the most a call may take: that plus the cancel's own wait and
// Wine's slack.
constexpr int kTimeoutMs = 150;
constexpr int64_t kMostMs = 1500;

// Both ends of a pipe nobody reads; the server end is kept open so that writes wait for
// room instead of failing.
struct StalledPipe {
  HANDLE serverEnd = INVALID_HANDLE_VALUE;
  HANDLE clientEnd = INVALID_HANDLE_VALUE;

  StalledPipe() {
    const std::string name = "\\\\.\\pipe\\morlane-stalled-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount64());
    serverEnd =
        CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 1, 1, 0, nullptr);
    if (serverEnd == INVALID_HANDLE_VALUE) return;
    clientEnd = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  }
  ~StalledPipe() {
    if (serverEnd != INVALID_HANDLE_VALUE) CloseHandle(serverEnd);
  }
  bool Ready() const {
    return serverEnd != INVALID_HANDLE_VALUE && clientEnd != INVALID_HANDLE_VALUE;
  }
  // The clientEnd end, for the adopting object to own.
  HANDLE Take() { return std::exchange(clientEnd, INVALID_HANDLE_VALUE); }
};

template <typename Call>
int64_t Timed(Call&& call) {
  const int64_t start = MonotonicMs();
  call();
  return MonotonicMs() - start;
}

TEST(StalledHandle, SerialWriteEndsInItsTimeReportsNotSentAndTheNextCallIsSafe) {
  StalledPipe pipe;
  ASSERT_TRUE(pipe.Ready());
  std::unique_ptr<SerialPort> port = AdoptWin32Port(pipe.Take());
  ASSERT_NE(port, nullptr);
  // The second write carries other bytes, as the link's next frame after a lost one does.
  const std::vector<uint8_t> first(kBytes, 0x51);
  const std::vector<uint8_t> second(kBytes / 2, 0x0D);
  for (const std::vector<uint8_t>* bytes : {&first, &second}) {
    const int n = static_cast<int>(bytes->size());
    int put = 0;
    EXPECT_LT(Timed([&] { put = port->Write(bytes->data(), n, kTimeoutMs); }), kMostMs);
    // Nothing, or a port given up as unusable; never the whole write.
    EXPECT_LT(put, n);
  }
  EXPECT_LT(Timed([&] { port->WaitReadable(kTimeoutMs); }), kMostMs);
  EXPECT_LT(Timed([&] { port.reset(); }), kMostMs);
}

TEST(StalledHandle, HidTransfersEndInTheirTimeAndReportTimeOut) {
  StalledPipe pipe;
  ASSERT_TRUE(pipe.Ready());
  std::unique_ptr<HidDevice> device = AdoptWin32HidDevice(pipe.Take(), HidCaps{65, kBytes});
  ASSERT_NE(device, nullptr);
  const std::vector<uint8_t> report(kBytes, 0x00);
  std::vector<uint8_t> input(65);
  for (int round = 0; round < 2; ++round) {
    int put = 1;
    EXPECT_LT(Timed([&] { put = device->Write(report.data(), kBytes, kTimeoutMs); }), kMostMs);
    EXPECT_LE(put, 0) << "round " << round;
    int got = 1;
    EXPECT_LT(Timed([&] { got = device->Read(input.data(), 65, kTimeoutMs); }), kMostMs);
    EXPECT_LE(got, 0) << "round " << round;
  }
  EXPECT_LT(Timed([&] { device.reset(); }), kMostMs);
}

}  // namespace
}  // namespace morlane
