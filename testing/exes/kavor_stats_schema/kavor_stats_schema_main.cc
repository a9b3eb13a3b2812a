// Writes the installer's statistics schema, in Avro's JSON notation, to
// standard output, so that a test server can read the installer's requests
// with a stock Avro library.
//
//   kavor_stats_schema.exe

#include <stdio.h>

#include <string>

#include "desktop/windows/installer/avro_stats/statistics_schema.h"

int main() {
  const std::string json = installer::GetStatisticsSchemaJsonForTesting();
  if (fwrite(json.data(), 1, json.size(), stdout) != json.size() ||
      fputc('\n', stdout) == EOF || fflush(stdout) != 0) {
    return 1;
  }
  return 0;
}
