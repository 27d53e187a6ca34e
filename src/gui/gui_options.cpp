#include "gui/gui_options.h"

#include <QCommandLineParser>

#include <cstdio>

#include "app/window_options.h"
#include "gui/text_convert.h"

namespace morlane::gui {

ParseOutcome ParseGuiOptions(const QStringList& arguments, GuiOptions* options,
                             std::string* message) {
  // The options come from the table both windows share; the help printed is the table's
  // own, so that it reads the same as the Windows window's.
  QCommandLineParser parser;
  for (const WindowOption& option : WindowOptions()) {
    QStringList names;
    if (option.shortName) names << QString::fromLatin1(option.shortName);
    names << QString::fromLatin1(option.longName);
    parser.addOption(
        QCommandLineOption(names, QString::fromLatin1(option.text),
                           option.value ? QString::fromLatin1(option.value) : QString()));
  }

  if (!parser.parse(arguments)) {
    *message = FromQString(parser.errorText());
    return ParseOutcome::Usage;
  }
  if (!parser.positionalArguments().isEmpty()) {
    *message = "unexpected argument: " + FromQString(parser.positionalArguments().first());
    return ParseOutcome::Usage;
  }
  if (parser.isSet(QStringLiteral("help"))) {
    std::fputs(WindowHelpText().c_str(), stdout);
    return ParseOutcome::Exit;
  }
  if (parser.isSet(QStringLiteral("version"))) {
    std::puts(WindowVersionText().c_str());
    return ParseOutcome::Exit;
  }
  options->simulate = parser.isSet(QStringLiteral("simulate"));
  options->service = parser.isSet(QStringLiteral("service"));
  for (const QString& path : parser.values(QStringLiteral("port"))) {
    options->ports.push_back(FromQString(path));
  }
  options->screenshot = FromQString(parser.value(QStringLiteral("screenshot")));
  options->instanceTag = FromQString(parser.value(QStringLiteral("instance-tag")));
  for (const QString& fault : parser.values(QStringLiteral("simulate-fault"))) {
    options->simulateFaults.push_back(FromQString(fault));
  }
  options->station = FromQString(parser.value(QStringLiteral("station")));
  options->chooseStation = parser.isSet(QStringLiteral("choose-station"));
  options->events = FromQString(parser.value(QStringLiteral("events")));
  options->operatorName = FromQString(parser.value(QStringLiteral("operator")));
  if (parser.isSet(QStringLiteral("simulate-units"))) {
    bool number = false;
    options->simulateUnits = parser.value(QStringLiteral("simulate-units")).toInt(&number);
    if (!number || options->simulateUnits < 1 || options->simulateUnits > 64) {
      *message = "--simulate-units takes a number from 1 to 64";
      return ParseOutcome::Usage;
    }
  }
  for (const QString& scan : parser.values(QStringLiteral("scan"))) {
    options->scans.push_back(FromQString(scan));
  }
  if (parser.isSet(QStringLiteral("screenshot-delay-ms"))) {
    bool number = false;
    options->screenshotDelayMs = parser.value(QStringLiteral("screenshot-delay-ms")).toInt(&number);
    if (!number || options->screenshotDelayMs < 0 || options->screenshotDelayMs > 600000) {
      *message = "--screenshot-delay-ms takes a number of milliseconds up to 600000";
      return ParseOutcome::Usage;
    }
  }
  return ParseOutcome::Run;
}

bool WindowOptionsGiven(const GuiOptions& options) {
  return options.simulate || options.service || !options.ports.empty() ||
         !options.screenshot.empty() || !options.simulateFaults.empty();
}

}  // namespace morlane::gui
