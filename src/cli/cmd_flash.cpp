// flash, auto, inspect: the CPUs' flash over the serial link, and a look into an image.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/cli_session.h"
#include "flash/bin_file.h"
#include "flash/inverter_flasher.h"
#include "platform/file_io.h"
#include "platform/utf8_path.h"
#include "ui/control_ids.h"
#include "ui/dialog_values.h"

namespace morlane {

std::string PathFromDir(const std::string& dir, const std::string& path) {
  std::filesystem::path taken = PathFromUtf8(path);
  if (taken.is_relative() && !dir.empty()) taken = PathFromUtf8(dir) / taken;
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(taken, error);
  return PathToUtf8(error ? taken : absolute);
}

bool Readable(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(PathFromUtf8(path), error)) return false;
  std::FILE* file = OpenStream(path, "rb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

int Unreadable(const std::string& shown) {
  std::fprintf(stderr, "morlane-cli: cannot read %s\n", shown.c_str());
  return kExitUsage;
}

// A command that takes no package is never run with one given: the technician would get
// the file named instead of the package's image without a word.
int RefusePackage(const char* command) {
  std::fprintf(stderr,
               "morlane-cli: --package: %s takes no package; auto, flash, verify and "
               "mcu-update do\n",
               command);
  return kExitUsage;
}

namespace {

// The procedure a single run is recorded as.
std::string RecordedAs(CliSession& session, const char* procedure) {
  return session.Dialog().flasher.Programmer().verifyOnly ? "verify" : procedure;
}

// A records folder that cannot take the run stops it before anything is sent.
bool RecordRefused(CliSession& session, const std::string& procedure) {
  std::string why;
  if (session.BeginRecord(procedure, &why)) return false;
  std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
  return true;
}

int RunFlash(CliSession& session, const std::string& path, const std::string& shown,
             const std::string& cpu);

// flash and verify with --package: the image for --cpu from the package, no FILE.
int RunFlashFromPackage(CliSession& session, const std::string& given, const std::string& cpu) {
  if (!given.empty() || cpu.empty()) {
    std::fprintf(stderr,
                 "morlane-cli: with --package, give --cpu master or --cpu slave and no FILE: "
                 "the image comes from the package\n");
    return kExitUsage;
  }
  if (!session.TakePackage(cpu)) return kExitFailed;
  const std::string name = session.PackageImageName(cpu);
  return RunFlash(session, name, name, cpu);
}

int RunFlash(CliSession& session, const std::string& path, const std::string& shown,
             const std::string& cpu) {
  if (!session.Package() && !Readable(path)) return Unreadable(shown);
  if (int refused = session.Package() ? 0 : RefuseUnclearCpu(path, shown, cpu)) return refused;
  if (RecordRefused(session, RecordedAs(session, "flash"))) return kExitUsage;
  if (!session.OpenLink("com")) return kExitFailed;
  int result = PressFlash(session.Window(), session.Dialog(), path, cpu);
  session.RecordImages(path, shown, result);
  if (result) return kExitOk;
  // The dialog refuses a file that is not an inverter image without a word; here the
  // caller is told why nothing happened.
  if (!session.Dialog().flasher.CheckImage(path)) {
    std::fprintf(stderr, "morlane-cli: %s is not an inverter image (no 08 AA at its start)\n",
                 shown.c_str());
    session.SetFailure("image", "not an inverter image");
  }
  const FlashOutcome& outcome = session.Dialog().flasher.Programmer().outcome;
  session.SetFailure(
      outcome.failedStep == FlashStep::None ? "image" : FlashStepName(outcome.failedStep),
      outcome.reason.empty() ? "the image was not accepted" : outcome.reason);
  return kExitFailed;
}

int RunAuto(CliSession& session) {
  if (!session.Options().package.empty() && !session.TakePackage()) return kExitFailed;
  if (RecordRefused(session, RecordedAs(session, "auto"))) return kExitUsage;
  if (!session.OpenLink("com")) return kExitFailed;
  const int result = PressAuto(session.Window(), session.Dialog());
  session.RecordImages("", "", result);
  if (result) return kExitOk;
  for (const ImageAttempt& attempt : session.Dialog().flasher.attempts) {
    if (attempt.passed) continue;
    const std::string file = PathToUtf8(PathFromUtf8(attempt.path).filename());
    session.SetFailure(FlashStepName(attempt.outcome.failedStep),
                       file + ": " + attempt.outcome.reason);
  }
  session.SetFailure("image", "no image file (*.bin) in the working directory");
  return kExitFailed;
}

// The same presses as flash and auto, with the programmer told to check only: the CPU is
// selected and handed over, every section verified, the closing command sent.
int RunVerify(CliSession& session, const std::string& path, const std::string& shown,
              const std::string& cpu, bool automatic) {
  session.Dialog().flasher.Programmer().verifyOnly = true;
  if (automatic) return RunAuto(session);
  if (!session.Options().package.empty()) return RunFlashFromPackage(session, shown, cpu);
  return RunFlash(session, path, shown, cpu);
}

int RunInspect(const std::string& path, const std::string& shown) {
  if (!Readable(path)) return Unreadable(shown);
  ImageSurvey survey = SurveyImage(path);
  if (survey.verdict == ImageVerdict::Unreadable) return Unreadable(shown);
  if (survey.verdict == ImageVerdict::NotAnImage) {
    std::printf("%s: %s\n", shown.c_str(), ImageVerdictText(survey.verdict));
    return kExitFailed;
  }
  std::printf("%s: inverter image, %llu bytes, %zu%s sections\n", shown.c_str(),
              static_cast<unsigned long long>(survey.fileSize), survey.sections.size(),
              survey.verdict == ImageVerdict::TooManySections ? " or more" : "");
  if (!survey.sections.empty()) {
    std::printf("section  word address  words  file offsets\n");
  }
  for (size_t i = 0; i < survey.sections.size(); ++i) {
    const BinSection& section = survey.sections[i];
    std::printf("%7zu    0x%08X  %5u  %llu..%llu\n", i + 1, section.address, section.Words(),
                static_cast<unsigned long long>(section.start),
                static_cast<unsigned long long>(section.end));
  }
  if (survey.verdict == ImageVerdict::Sound) return kExitOk;
  std::printf("refused: %s", ImageVerdictText(survey.verdict));
  if (survey.badSection >= 0) std::printf(" (section %d)", survey.badSection + 1);
  std::printf("\n");
  return kExitFailed;
}

}  // namespace

int RefuseUnclearCpu(const std::string& path, const std::string& shown, const std::string& cpu) {
  if (!cpu.empty()) return kExitOk;
  const PathCpu named = CpuNamedInPath(path);
  if (named == PathCpu::Master || named == PathCpu::Slave) return kExitOk;
  std::fprintf(stderr,
               "morlane-cli: %s names %s CPU in its path (\"master\" or \"slave\"): say which "
               "CPU it is for with --cpu master or --cpu slave\n",
               shown.c_str(), named == PathCpu::Both ? "more than one" : "no");
  return kExitUsage;
}

void AddFlashArguments(CLI::App& flash, std::string& file, std::string& cpu, bool packaged) {
  CLI::Option* given = flash.add_option(
      "FILE", file,
      packaged ? "the inverter image (*.bin); none with --package" : "the inverter image (*.bin)");
  if (!packaged) given->required();
  flash
      .add_option("--cpu", cpu,
                  "master or slave; without it the path decides, and must name one CPU")
      ->transform(CLI::IsMember({"master", "slave"}, CLI::ignore_case));
}

void RegisterFlashCommands(CLI::App& app, CommandRunner& selected) {
  auto* flash = app.add_subcommand(
      "flash", "Program one CPU: Open on COM, \"Manual\", FILE chosen, \"Update Firmware\"");
  auto file = std::make_shared<std::string>();
  auto cpu = std::make_shared<std::string>();
  AddFlashArguments(*flash, *file, *cpu, true);
  flash->callback([&selected, file, cpu] {
    selected = [file, cpu](CliSession& session) {
      if (!session.Options().package.empty()) return RunFlashFromPackage(session, *file, *cpu);
      if (file->empty()) {
        std::fprintf(stderr, "morlane-cli: flash: give FILE, or --package with --cpu\n");
        return kExitUsage;
      }
      return RunFlash(session, session.PathOf(*file), *file, *cpu);
    };
  });

  auto* automatic = app.add_subcommand(
      "auto", "Program every *.bin of the working directory: Open on COM, \"Automatic\"");
  automatic->callback([&selected] { selected = RunAuto; });

  auto* verify = app.add_subcommand(
      "verify",
      "Check a CPU's flash against FILE, or every *.bin of the working directory with --auto, "
      "without programming: no erase or program frame is sent");
  auto verifyFile = std::make_shared<std::string>();
  auto verifyCpu = std::make_shared<std::string>();
  auto verifyAll = std::make_shared<bool>(false);
  CLI::Option* fileOption = verify->add_option("FILE", *verifyFile, "the inverter image (*.bin)");
  verify
      ->add_option("--cpu", *verifyCpu,
                   "master or slave; without it the path decides, and must name one CPU")
      ->transform(CLI::IsMember({"master", "slave"}, CLI::ignore_case));
  verify
      ->add_flag("--auto", *verifyAll,
                 "every *.bin of the working directory, each against the CPU its name says")
      ->excludes(fileOption);
  verify->callback([&selected, verifyFile, verifyCpu, verifyAll] {
    selected = [verifyFile, verifyCpu, verifyAll](CliSession& session) {
      if (verifyFile->empty() && !*verifyAll && session.Options().package.empty()) {
        std::fprintf(stderr,
                     "morlane-cli: verify: give FILE, --auto for every image, or --package "
                     "with --cpu\n");
        return kExitUsage;
      }
      const std::string path = verifyFile->empty() ? std::string() : session.PathOf(*verifyFile);
      return RunVerify(session, path, *verifyFile, *verifyCpu, *verifyAll);
    };
  });

  auto* inspect =
      app.add_subcommand("inspect", "Whether FILE is an inverter image, and its section table");
  auto image = std::make_shared<std::string>();
  inspect->add_option("FILE", *image, "the image (*.bin)")->required();
  inspect->callback([&selected, image] {
    selected = [image](CliSession& session) { return RunInspect(session.PathOf(*image), *image); };
  });
}

}  // namespace morlane
