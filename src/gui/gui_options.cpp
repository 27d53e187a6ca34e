#include "gui/gui_options.h"

#include <QCommandLineParser>

#include <cstdio>

#include "gui/text_convert.h"

namespace morlane::gui {

ParseOutcome ParseGuiOptions(const QStringList& arguments, GuiOptions* options,
                             std::string* message) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Firmware programming and service of the power-conversion unit, in one window."));
  QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                          QStringLiteral("Show this help and end."));
  QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
  QCommandLineOption simulate(QStringLiteral("simulate"),
                              QStringLiteral("Work with the simulated unit (its serial side "
                                             "as COM1, its USB side as the HID device)."));
  QCommandLineOption port(QStringLiteral("port"),
                          QStringLiteral("Serial device for the next COM number; repeatable."),
                          QStringLiteral("PATH"));
  QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                QStringLiteral("Save the shown window as PNG and end."),
                                QStringLiteral("FILE"));
  screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption instance(QStringLiteral("instance-tag"),
                              QStringLiteral("Single-instance group of this start."),
                              QStringLiteral("TAG"));
  instance.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOptions({help, version, simulate, port, screenshot, instance});

  if (!parser.parse(arguments)) {
    *message = FromQString(parser.errorText());
    return ParseOutcome::Usage;
  }
  if (!parser.positionalArguments().isEmpty()) {
    *message = "unexpected argument: " + FromQString(parser.positionalArguments().first());
    return ParseOutcome::Usage;
  }
  if (parser.isSet(help)) {
    std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
    return ParseOutcome::Exit;
  }
  if (parser.isSet(version)) {
    std::puts("morlane 1.0");
    return ParseOutcome::Exit;
  }
  options->simulate = parser.isSet(simulate);
  for (const QString& path : parser.values(port)) options->ports.push_back(FromQString(path));
  options->screenshot = FromQString(parser.value(screenshot));
  options->instanceTag = FromQString(parser.value(instance));
  return ParseOutcome::Run;
}

}  // namespace morlane::gui
