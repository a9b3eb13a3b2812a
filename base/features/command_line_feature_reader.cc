#include "base/features/command_line_feature_reader.h"

#include <string>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_util.h"

namespace base {

CommandLineFeatureReader::CommandLineFeatureReader(
    const CommandLine* command_line)
    : command_line_(command_line) {}

CommandLineFeatureReader::~CommandLineFeatureReader() = default;

void CommandLineFeatureReader::Read(std::vector<FeatureState>* states) {
  const StringPiece prefix(kFeatureSwitchPrefix);
  // The switch map is sorted by name, so the states come out in name order.
  for (const auto& switch_entry : command_line_->GetSwitches()) {
    const std::string& switch_name = switch_entry.first;
    if (!StringPiece(switch_name).starts_with(prefix))
      continue;
    std::string feature_name = switch_name;
    ReplaceFirstSubstringAfterOffset(&feature_name, 0, prefix, StringPiece());

    // A value that is not ASCII reads as empty, and so enables the feature.
    const std::string value = command_line_->GetSwitchValueASCII(switch_name);
    bool enabled;
    if (value.empty() || value == "on") {
      enabled = true;
    } else if (value == "off") {
      enabled = false;
    } else {
      LOG(WARNING) << switch_name << " has unhandled value: \"" << value
                   << "\" did you mean \"on\" or \"off\"? Using default "
                      "setting.";
      continue;
    }
    states->push_back(FeatureState(feature_name, enabled));
  }
}

}  // namespace base
