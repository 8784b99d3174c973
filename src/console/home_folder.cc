#include "console/home_folder.h"

#include <filesystem>

#include "platform/file_read.h"
#include "platform/program_folder.h"
#include "platform/user_folders.h"
#include "support/exceptions.h"

namespace zv {
namespace {

constexpr const char* kHomeVariable = "ZVCC_HOME";
constexpr const char* kStateVariable = "XDG_STATE_HOME";
// The XDG rules ask for private base folders; the home inside is private too,
// since its log holds every message sent.
constexpr unsigned kPrivateMode = 0700;
constexpr unsigned kOpenMode = 0777;

std::string Joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string StateFolder(const THomeInputs& inputs) {
  if (!inputs.StateHome.empty() && inputs.StateHome.front() == '/') {
    return Joined(inputs.StateHome, "zvcc");
  }
  if (inputs.UserHome.empty()) return {};
  return Joined(inputs.UserHome, ".local/state/zvcc");
}

// How the operator chooses another home, for the report of one that failed.
std::string OtherHomeHint(THomeSource source) {
  switch (source) {
    case THomeSource::kOption:
      return "Name a folder that can be written with --home DIR.";
    case THomeSource::kEnvironment:
      return "Name a folder that can be written with ZVCC_HOME or --home DIR.";
    case THomeSource::kProgramFolder:
    case THomeSource::kStateFolder:
      break;
  }
  return "Choose a folder for the settings and logs with --home DIR or the environment "
         "variable ZVCC_HOME.";
}

void MakeFolder(const std::string& path, unsigned mode, THomeSource source) {
  const int error = platform::MakeFolderPath(path, mode);
  if (error != 0) {
    throw EZVFileError("Cannot create folder \"" + path + "\". " + platform::FileErrorText(error) +
                       ". " + OtherHomeHint(source));
  }
}

}  // namespace

THomeChoice ChooseHome(const THomeInputs& inputs,
                       const std::function<bool(const std::string& folder)>& canWrite) {
  if (!inputs.Option.empty()) return {THomeSource::kOption, inputs.Option};
  if (!inputs.Environment.empty()) return {THomeSource::kEnvironment, inputs.Environment};
  if (canWrite(Joined(inputs.ProgramFolder, "Settings"))) {
    return {THomeSource::kProgramFolder, inputs.ProgramFolder};
  }
  return {THomeSource::kStateFolder, StateFolder(inputs)};
}

std::string SetUpHome(const std::string& option) {
  THomeInputs inputs;
  inputs.Option = option;
  inputs.Environment = platform::EnvironmentValue(kHomeVariable);
  inputs.ProgramFolder = platform::ProgramFolder();
  inputs.StateHome = platform::EnvironmentValue(kStateVariable);
  inputs.UserHome = platform::UserHomeFolder();
  const THomeChoice choice = ChooseHome(inputs, platform::CanWriteFolder);
  if (choice.Source == THomeSource::kProgramFolder) {
    platform::SetHomeFolder("");
    return {};
  }
  if (choice.Folder.empty()) {
    throw EZVFileError("No folder for the settings and logs: the program folder \"" +
                       inputs.ProgramFolder +
                       "\" cannot be written and neither ZVCC_HOME, XDG_STATE_HOME nor HOME "
                       "names another. " +
                       OtherHomeHint(choice.Source));
  }
  // A relative name stays what it meant at start-up whatever happens later.
  std::error_code ec;
  std::string folder = std::filesystem::absolute(choice.Folder, ec).lexically_normal().string();
  if (ec) folder = choice.Folder;
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const unsigned mode = choice.Source == THomeSource::kStateFolder ? kPrivateMode : kOpenMode;
  MakeFolder(folder, mode, choice.Source);
  MakeFolder(Joined(folder, "Settings"), mode, choice.Source);
  MakeFolder(Joined(folder, "Logs"), mode, choice.Source);
  platform::SetHomeFolder(folder);
  if (choice.Source != THomeSource::kStateFolder) return {};
  return "Settings and logs are kept in " + folder + " (the program folder cannot be written).";
}

}  // namespace zv
