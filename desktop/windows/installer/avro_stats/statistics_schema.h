#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_STATISTICS_SCHEMA_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_STATISTICS_SCHEMA_H_

#include <stdint.h>

#include <string>

#include "base/memory/scoped_refptr.h"

namespace installer {

class AvroSchema;

// The id that names the statistics schema in every request.
extern const uint32_t kStatisticsSchemaId;

// The process's statistics schema (record "kavor_desktop_installer"), built
// on first use. The order of its fields, branches and symbols is the wire
// format.
base::scoped_refptr<AvroSchema> GetStatisticsSchema();

// The schema in Avro's JSON notation, for readers outside the process.
std::string GetStatisticsSchemaJsonForTesting();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_STATISTICS_SCHEMA_H_
