// make_docs OUTDIR: writes the manual pages morlane.1, morlane-cli.1 and morlane-unit-sim.1
// and the bash completion morlane-cli.bash from the programs' own option tables (the
// command line morlane-cli parses with, the window's option table, the simulated unit's
// fault switches), so that an option added to a program shows up in both.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/window_options.h"
#include "cli/cli_app.h"
#include "console/command_table.h"
#include "sim/sim_options.h"

namespace morlane::docs {
namespace {

// What the shell completes as an option's value, or a positional argument.
// Serial: a serial device. List: a comma-separated list of choices. Fault: "N:SWITCH".
enum class ValueKind { None, File, Dir, Choice, Serial, List, Fault };

struct OptionDoc {
  std::vector<std::string> names;  // "-h", "--help"; for a positional its name ("FILE")
  std::string value;               // the value as shown ("PATH", "usb|com"); empty: a switch
  std::string text;
  ValueKind kind = ValueKind::None;
  std::vector<std::string> choices;
};

struct CommandDoc {
  std::string path;  // "" for the program, "flash", "gang flash"
  std::string text;
  std::vector<OptionDoc> options;
  std::vector<OptionDoc> positionals;
  std::vector<CommandDoc> commands;
};

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// An option of the command table: its value's name and kind come from the type name CLI11
// shows ("PATH", "TEXT:{usb,com}", "TEXT:FILE", "INT:NONNEGATIVE").
OptionDoc FromCliOption(const CLI::Option& option) {
  OptionDoc doc;
  doc.text = option.get_description();
  if (option.get_positional() && !option.nonpositional()) {
    doc.names.push_back(option.get_name());
  } else {
    for (const std::string& name : option.get_snames()) doc.names.push_back("-" + name);
    for (const std::string& name : option.get_lnames()) doc.names.push_back("--" + name);
  }
  const bool takesValue = option.get_expected_max() > 0 || option.get_positional();
  if (!takesValue) return doc;
  std::vector<std::string> parts = SplitAt(option.get_type_name(), ':');
  doc.value = parts.empty() ? "VALUE" : parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.size() > 2 && part.front() == '{' && part.back() == '}') {
      doc.choices = SplitAt(part.substr(1, part.size() - 2), ',');
    } else if (doc.value == "TEXT") {
      doc.value = part;  // "LIST", "FILE": the validator names the value better
    }
  }
  const std::string shown = option.get_positional() ? option.get_name() : doc.value;
  if (!doc.choices.empty()) {
    doc.kind = ValueKind::Choice;
    doc.value.clear();
    for (const std::string& choice : doc.choices) {
      doc.value += (doc.value.empty() ? "" : "|") + choice;
    }
  } else if (shown == "DIR") {
    doc.kind = ValueKind::Dir;
  } else if (shown == "FILE" || shown == "PATH" || doc.value == "FILE") {
    doc.kind = ValueKind::File;
  }
  if (option.get_positional()) doc.value = option.get_name();
  return doc;
}

CommandDoc FromCliApp(const CLI::App& app, const std::string& path) {
  CommandDoc doc;
  doc.path = path;
  doc.text = app.get_description();
  for (const CLI::Option* option : app.get_options()) {
    OptionDoc entry = FromCliOption(*option);
    if (option->get_positional() && !option->nonpositional()) {
      doc.positionals.push_back(entry);
    } else {
      doc.options.push_back(entry);
    }
  }
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    doc.commands.push_back(
        FromCliApp(*sub, path.empty() ? sub->get_name() : path + " " + sub->get_name()));
  }
  return doc;
}

std::vector<OptionDoc> FromHelpEntries(const std::vector<HelpEntry>& entries) {
  std::vector<OptionDoc> docs;
  for (const HelpEntry& entry : entries) {
    OptionDoc doc;
    for (std::string name : SplitAt(entry.names, ',')) {
      name.erase(0, name.find_first_not_of(' '));
      doc.names.push_back(name);
    }
    doc.value = entry.value;
    doc.text = entry.text;
    docs.push_back(doc);
  }
  return docs;
}

// ---- manual pages ----

// Text for roff: backslashes written as \e, a line never begins with a control character.
std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

// An option name or a command line: its hyphens are minus signs, so it can be copied.
std::string RoffLiteral(const std::string& text) {
  std::string out;
  for (char c : Roff(text)) {
    if (c == '-') out += "\\";
    out += c;
  }
  return out;
}

std::string OptionTerm(const OptionDoc& option, bool positional) {
  if (positional) return "\\fI" + RoffLiteral(option.names.front()) + "\\fR";
  std::string term;
  for (const std::string& name : option.names) {
    term += (term.empty() ? "" : ", ") + ("\\fB" + RoffLiteral(name) + "\\fR");
  }
  if (!option.value.empty()) term += " \\fI" + RoffLiteral(option.value) + "\\fR";
  return term;
}

void WriteOptionList(std::ostream& out, const std::vector<OptionDoc>& options, bool positional) {
  for (const OptionDoc& option : options) {
    out << ".TP\n" << OptionTerm(option, positional) << "\n" << Roff(option.text) << "\n";
  }
}

struct PageText {
  std::string name;
  std::string summary;
  std::string synopsis;  // roff
  std::string description;
  std::vector<std::pair<std::string, std::string>> sections;  // after the options
};

void WriteHeader(std::ostream& out, const PageText& page) {
  std::string upper;
  for (char c : page.name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  out << ".TH " << RoffLiteral(upper) << " 1 \"\" \"morlane " << MORLANE_VERSION
      << "\" \"User Commands\"\n"
      << ".SH NAME\n"
      << RoffLiteral(page.name) << " \\- " << Roff(page.summary) << "\n"
      << ".SH SYNOPSIS\n"
      << page.synopsis << "\n"
      << ".SH DESCRIPTION\n";
  // Paragraphs are separated by blank lines in the texts here.
  std::istringstream paragraphs(page.description);
  std::string line;
  while (std::getline(paragraphs, line)) out << (line.empty() ? ".PP" : Roff(line)) << "\n";
}

void WriteSections(std::ostream& out, const PageText& page) {
  for (const auto& [title, body] : page.sections) {
    out << ".SH " << title << "\n";
    std::istringstream lines(body);
    std::string line;
    while (std::getline(lines, line)) {
      // "term\tdefinition" lines become tagged paragraphs.
      size_t tab = line.find('\t');
      if (tab != std::string::npos) {
        out << ".TP\n"
            << RoffLiteral(line.substr(0, tab)) << "\n"
            << Roff(line.substr(tab + 1)) << "\n";
      } else if (line.empty()) {
        out << ".PP\n";
      } else {
        out << Roff(line) << "\n";
      }
    }
  }
}

std::string CommandLine(const CommandDoc& command) {
  std::string line = "\\fB" + RoffLiteral(command.path) + "\\fR";
  for (const OptionDoc& positional : command.positionals) {
    line += " \\fI" + RoffLiteral(positional.names.front()) + "\\fR";
  }
  for (const OptionDoc& option : command.options) {
    if (option.names.back() == "--help") continue;
    line += " [\\fB" + RoffLiteral(option.names.back()) + "\\fR";
    if (!option.value.empty()) line += " \\fI" + RoffLiteral(option.value) + "\\fR";
    line += "]";
  }
  return line;
}

void WriteCommands(std::ostream& out, const CommandDoc& parent) {
  for (const CommandDoc& command : parent.commands) {
    out << ".SS \"" << CommandLine(command) << "\"\n" << Roff(command.text) << "\n";
    WriteOptionList(out, command.positionals, true);
    std::vector<OptionDoc> options;
    for (const OptionDoc& option : command.options) {
      if (option.names.back() != "--help") options.push_back(option);
    }
    WriteOptionList(out, options, false);
    WriteCommands(out, command);
  }
}

void WriteCliPage(std::ostream& out, const CommandDoc& cli) {
  PageText page;
  page.name = "morlane-cli";
  page.summary = cli.text;
  page.synopsis =
      ".B morlane\\-cli\n[\\fIoptions\\fR] \\fIcommand\\fR [\\fIarguments\\fR]\n.br\n"
      ".B morlane\\-cli \\-\\-help\n.br\n.B morlane\\-cli \\fIcommand\\fB \\-\\-help";
  page.description =
      "The command-line front end of the tool, for scripts and production lines. Each command "
      "works the tool's dialog as a technician would in the window, so every log line, file "
      "and byte on the wire is the window's own.\n"
      "\n"
      "Every log line goes to standard output as it is appended. Message boxes appear on "
      "standard error as \"message: TEXT\"; a progress bar is drawn there while a procedure "
      "runs, when standard error is a terminal and --quiet is not given.";
  WriteHeader(out, page);
  out << ".SH OPTIONS\nThe options stand before the command.\n";
  WriteOptionList(out, cli.options, false);
  out << ".SH COMMANDS\n";
  WriteCommands(out, cli);
  page.sections = {
      {"EXIT STATUS",
       "0\tthe procedure ran and succeeded.\n"
       "1\tthe procedure ran and failed: device or port not found, file refused, a step of "
       "the update failed, a time-out.\n"
       "2\ta usage error: unknown command or option, missing argument, unreadable file."},
      {"ENVIRONMENT",
       "MORLANE_PORTS\tthe serial devices that stand as COM1, COM2, ..., separated by colons, "
       "when no --port is given. Without either, the system's serial devices are used "
       "(/dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*)."},
      {"FILES",
       "*.bin\tthe inverter images that \"auto\" programs, in the working directory.\n"
       "tmp.bin, tmp.txt\tthe MCU image and its listing, written by \"prepare\" and sent by "
       "\"mcu-update\".\n"
       "MCUlog.txt\tthe answers of the automatic command test."},
      {"EXAMPLES",
       "morlane-sample-images images\tsample images to try the tool with.\n"
       "morlane-cli --simulate --dir images auto\tboth CPUs of the simulated unit programmed "
       "from every image in images.\n"
       "morlane-cli open --probe\twhether a unit answers on the first serial port.\n"
       "morlane-cli --port /dev/ttyUSB0 flash --cpu master fw_v2.bin\tthe master CPU "
       "programmed from an image whose name says neither CPU.\n"
       "morlane-cli --records /srv/line --unit-id COM1=SN-0001 gang auto\tevery unit "
       "attached programmed at once, each run kept in the station's records.\n"
       "morlane-cli station --profile line1.toml\ta production station all shift: units "
       "started by their scanned labels on standard input or by their presence, only the "
       "profile's approved images sent, a line per slot event on stdout.\n"
       "morlane-cli --records /srv/line records yield\tthe first-pass yield of the runs kept "
       "there.\n"
       "morlane-cli test --commands Q1,FWV --seconds 60\tthe command test for a minute, "
       "every answer in MCUlog.txt."},
      {"SEE ALSO", "morlane(1), morlane-unit-sim(1), morlane-sample-images(1)"},
  };
  WriteSections(out, page);
}

void WriteWindowPage(std::ostream& out) {
  PageText page;
  page.name = "morlane";
  page.summary = "firmware programming and service of the power-conversion unit, in one window";
  page.synopsis = ".B morlane\n[\\fIoptions\\fR]";
  page.description =
      "The tool's window. A service technician connects the unit by RS232 or USB and programs "
      "the flash of the unit's two CPUs through their bootloader, programs the unit's MCU over "
      "USB, prepares the MCU image from an S-record file and sends service commands.\n"
      "\n"
      "Only one window runs at a time: starting morlane again brings the running window to the "
      "front.";
  WriteHeader(out, page);
  out << ".SH OPTIONS\n";
  WriteOptionList(out, FromHelpEntries(WindowHelpEntries()), false);
  page.sections = {
      {"ENVIRONMENT",
       "MORLANE_PORTS\tthe serial devices that stand as COM1, COM2, ..., separated by colons, "
       "when no --port is given."},
      {"EXAMPLES",
       "morlane\tthe window, searching COM1 to COM32 when Open is pressed.\n"
       "morlane --port /dev/ttyUSB0\tthe window with /dev/ttyUSB0 as COM1.\n"
       "morlane --simulate --service\tthe window on the simulated unit, the service view "
       "shown."},
      {"SEE ALSO", "morlane-cli(1), morlane-unit-sim(1), morlane-sample-images(1)"},
  };
  WriteSections(out, page);
}

void WriteSimPage(std::ostream& out) {
  PageText page;
  page.name = "morlane-unit-sim";
  page.summary = "the simulated unit on a pseudo-terminal";
  page.synopsis = ".B morlane\\-unit\\-sim\n[\\fIoptions\\fR]";
  page.description =
      "Stands in for the unit in tests, demos and training. It opens a pseudo-terminal, prints "
      "its path on the first line of standard output and answers there as the unit's serial "
      "side does: the service commands, the CPU selection and the bootloaders of both CPUs. "
      "Give the path to the tool with --port. It serves until interrupted (SIGINT or "
      "SIGTERM), then prints a summary of both CPUs' flash on standard error.\n"
      "\n"
      "The options other than --help and --version make the unit misbehave on purpose, as a "
      "real one can.";
  WriteHeader(out, page);
  out << ".SH OPTIONS\n";
  WriteOptionList(out, FromHelpEntries(sim::OptionHelpEntries()), false);
  page.sections = {
      {"EXIT STATUS",
       "0\tended by a signal.\n1\tthe pseudo-terminal could not be opened.\n"
       "2\ta usage error."},
      {"EXAMPLES",
       "morlane-unit-sim --refuse-erase\ta unit whose bootloaders refuse to erase; give the "
       "path it prints to morlane-cli --port /dev/pts/N."},
      {"SEE ALSO", "morlane(1), morlane-cli(1)"},
  };
  WriteSections(out, page);
}

void WriteSamplesPage(std::ostream& out) {
  PageText page;
  page.name = "morlane-sample-images";
  page.summary = "sample firmware to try the tool on its simulated unit";
  page.synopsis = ".B morlane\\-sample\\-images\n\\fIDIR\\fR";
  page.description =
      "Writes into DIR (made when missing) an inverter image for each CPU, master.bin and "
      "slave.bin, and the unit's USB firmware as S-records, usb_firmware.S19. Every byte is "
      "made by the program: the same files on every run. They fit the simulated unit, and "
      "nothing else should be programmed with them.";
  WriteHeader(out, page);
  page.sections = {
      {"EXIT STATUS",
       "0\tthe files were written.\n1\tDIR or a file could not be written.\n"
       "2\ta usage error."},
      {"EXAMPLES",
       "morlane-sample-images images\tthe three files in ./images.\n"
       "morlane-cli --simulate --dir images auto\tboth CPUs of the simulated unit programmed "
       "from them.\n"
       "morlane-cli --simulate --dir images prepare usb_firmware.S19\ttmp.txt and "
       "tmp.bin made from the S-records and sent to the simulated unit's MCU."},
      {"SEE ALSO", "morlane-cli(1), morlane(1)"},
  };
  WriteSections(out, page);
}

// ---- bash completion ----

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string Key(const std::string& node, const std::string& word) {
  return Quoted(node + "|" + word);
}

void CollectNodes(const CommandDoc& command, std::vector<const CommandDoc*>* nodes) {
  nodes->push_back(&command);
  for (const CommandDoc& sub : command.commands) CollectNodes(sub, nodes);
}

std::string Words(const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
  return Quoted(joined);
}

void WriteCompletion(std::ostream& out, const CommandDoc& cli) {
  std::vector<const CommandDoc*> nodes;
  CollectNodes(cli, &nodes);
  out << "# bash completion for morlane-cli, made from its own command table when it was built.\n"
         "_morlane_cli()\n"
         "{\n"
         "    local cur=${COMP_WORDS[COMP_CWORD]} prev= node= word i\n"
         "    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
         "    COMPREPLY=()\n"
         "    # The command (and subcommand) given so far; an option's value is passed over.\n"
         "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "        word=${COMP_WORDS[i]}\n"
         "        case \"$node|$word\" in\n";
  for (const CommandDoc* node : nodes) {
    for (const CommandDoc& sub : node->commands) {
      out << "            " << Key(node->path, sub.path.substr(sub.path.rfind(' ') + 1))
          << ") node=" << Quoted(sub.path) << " ;;\n";
    }
  }
  std::vector<std::string> valueKeys;
  for (const CommandDoc* node : nodes) {
    for (const OptionDoc& option : node->options) {
      if (option.value.empty()) continue;
      for (const std::string& name : option.names) valueKeys.push_back(Key(node->path, name));
    }
  }
  for (const std::string& key : valueKeys) out << "            " << key << ") ((i++)) ;;\n";
  out << "        esac\n"
         "    done\n"
         "    # The value of the option before.\n"
         "    case \"$node|$prev\" in\n";
  for (const CommandDoc* node : nodes) {
    for (const OptionDoc& option : node->options) {
      if (option.value.empty()) continue;
      std::string keys;
      for (const std::string& name : option.names) {
        keys += (keys.empty() ? "" : " | ") + Key(node->path, name);
      }
      out << "        " << keys << ")\n";
      switch (option.kind) {
        case ValueKind::Choice:
          out << "            COMPREPLY=($(compgen -W " << Words(option.choices)
              << " -- \"$cur\"))\n";
          break;
        case ValueKind::Dir:
          out << "            compopt -o filenames 2>/dev/null\n"
                 "            COMPREPLY=($(compgen -d -- \"$cur\"))\n";
          break;
        case ValueKind::File:
          out << "            compopt -o filenames 2>/dev/null\n"
                 "            COMPREPLY=($(compgen -f -- \"$cur\"))\n";
          break;
        case ValueKind::Serial:
          out << "            local device\n"
                 "            for device in /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* "
                 "/dev/serial/by-id/*; do\n"
                 "                [[ -e $device && $device == \"$cur\"* ]] && "
                 "COMPREPLY+=(\"$device\")\n"
                 "            done\n";
          break;
        case ValueKind::List:
          // The item after the last comma, the ones before kept.
          out << "            local before=\n"
                 "            [[ $cur == *,* ]] && before=${cur%,*},\n"
                 "            COMPREPLY=($(compgen -P \"$before\" -W "
              << Words(option.choices) << " -- \"${cur##*,}\"))\n";
          break;
        case ValueKind::Fault:
          // The unit's number first (1 when not typed yet), then the switch.
          out << "            local unit=1:\n"
                 "            [[ $cur == *:* ]] && unit=${cur%%:*}:\n"
                 "            compopt -o nospace 2>/dev/null\n"
                 "            COMPREPLY=($(compgen -P \"$unit\" -W "
              << Words(option.choices) << " -- \"${cur#*:}\"))\n";
          break;
        case ValueKind::None:
          break;
      }
      out << "            return 0\n"
             "            ;;\n";
    }
  }
  out << "    esac\n"
         "    if [[ $cur == -* ]]; then\n"
         "        case \"$node\" in\n";
  for (const CommandDoc* node : nodes) {
    std::vector<std::string> names;
    for (const OptionDoc& option : node->options) {
      for (const std::string& name : option.names) names.push_back(name);
    }
    out << "            " << Quoted(node->path) << ") COMPREPLY=($(compgen -W " << Words(names)
        << " -- \"$cur\")) ;;\n";
  }
  out << "        esac\n"
         "        return 0\n"
         "    fi\n"
         "    case \"$node\" in\n";
  for (const CommandDoc* node : nodes) {
    if (!node->commands.empty()) {
      std::vector<std::string> names;
      for (const CommandDoc& sub : node->commands) {
        names.push_back(sub.path.substr(sub.path.rfind(' ') + 1));
      }
      out << "        " << Quoted(node->path) << ") COMPREPLY=($(compgen -W " << Words(names)
          << " -- \"$cur\")) ;;\n";
    } else if (!node->positionals.empty()) {
      ValueKind kind = node->positionals.front().kind;
      if (kind == ValueKind::File || kind == ValueKind::Dir) {
        out << "        " << Quoted(node->path) << ")\n"
            << "            compopt -o filenames 2>/dev/null\n"
            << "            COMPREPLY=($(compgen " << (kind == ValueKind::Dir ? "-d" : "-f")
            << " -- \"$cur\"))\n"
            << "            ;;\n";
      }
    }
  }
  out << "    esac\n"
         "    return 0\n"
         "}\n"
         "complete -F _morlane_cli morlane-cli\n";
}

// Values the option table cannot name: serial devices for --port, the service commands
// for the test's --commands, the simulated unit's fault switches.
void CompleteSpecialValues(CommandDoc& command) {
  for (OptionDoc& option : command.options) {
    const std::string& name = option.names.back();
    if (name == "--port") {
      option.kind = ValueKind::Serial;
    } else if (name == "--commands") {
      CommandTable table;
      table.InitCommandTable();
      option.kind = ValueKind::List;
      option.choices.clear();
      for (int i = 0; i < CommandTable::kEntries; ++i) {
        option.choices.emplace_back(table.Name(i));
      }
    } else if (name == "--simulate-fault") {
      option.kind = ValueKind::Fault;
      option.choices.clear();
      for (std::string fault : sim::FaultSwitchNames()) {
        // "answer-delay-ms=" leaves the number to be typed.
        if (fault.ends_with("=N")) fault.pop_back();
        option.choices.push_back(fault);
      }
    }
  }
  for (CommandDoc& sub : command.commands) CompleteSpecialValues(sub);
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.close();
  if (!file) {
    std::fprintf(stderr, "make_docs: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace
}  // namespace morlane::docs

int main(int argc, char** argv) {
  using namespace morlane;
  using namespace morlane::docs;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_docs OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  GlobalOptions options;
  CommandRunner selected;
  std::unique_ptr<CLI::App> app = BuildCliApp(options, selected);
  CommandDoc cli = FromCliApp(*app, "");
  CompleteSpecialValues(cli);

  std::ostringstream cliPage, windowPage, simPage, samplesPage, completion;
  WriteCliPage(cliPage, cli);
  WriteWindowPage(windowPage);
  WriteSimPage(simPage);
  WriteSamplesPage(samplesPage);
  WriteCompletion(completion, cli);
  bool written = WriteFile(dir + "/morlane-cli.1", cliPage.str()) &&
                 WriteFile(dir + "/morlane.1", windowPage.str()) &&
                 WriteFile(dir + "/morlane-unit-sim.1", simPage.str()) &&
                 WriteFile(dir + "/morlane-sample-images.1", samplesPage.str()) &&
                 WriteFile(dir + "/morlane-cli.bash", completion.str());
  return written ? 0 : 1;
}
