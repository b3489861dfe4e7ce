// One output line per chunk the simulator read: readable text, a JSON object or a
// tab-separated record.
#pragma once

#include <optional>
#include <string>

#include "console-sim/frame_description.h"
#include "console-sim/frame_reader.h"
#include "console-sim/reply_plan.h"

namespace gateway::console_sim {

enum class OutputFormat { kText, kJson, kTsv };

struct FrameRecord {
  std::string time;  // local time of arrival, "hh:mm:ss.mmm"
  Chunk chunk;
  std::optional<Reply> reply;  // frames only
};

// The line for `record`, without the line break.
std::string FormatRecord(OutputFormat format, const FrameRecord& record);

// The first line of tab-separated output: the column names.
std::string TsvHeader();

}  // namespace gateway::console_sim
