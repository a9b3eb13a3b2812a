#ifndef BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_
#define BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_

#include <vector>

#include "base/features/feature_registry.h"
#include "base/macros.h"

namespace base {

class CommandLine;

// Reads the feature switches "with-feature:NAME" of a command line: no value
// or "on" enables NAME, "off" disables it; any other value is reported with
// a WARNING and ignored.
class CommandLineFeatureReader : public FeatureReader {
 public:
  // |command_line| is not owned and must outlive Read.
  explicit CommandLineFeatureReader(const CommandLine* command_line);
  ~CommandLineFeatureReader() override;

  void Read(std::vector<FeatureState>* states) override;

 private:
  const CommandLine* command_line_;

  DISALLOW_COPY_AND_ASSIGN(CommandLineFeatureReader);
};

}  // namespace base

#endif  // BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_
