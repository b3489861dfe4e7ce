#include "console-sim/frame_record.h"

#include <cstdio>

namespace gateway::console_sim {
namespace {

struct Fields {
  std::string kind;
  std::string checksum;  // "ok", "bad", or empty outside frames
  std::string object;
  std::string type;
  std::string payload;
  std::string event;
  std::string reply;
  std::string reply_bytes;
  std::string reply_delay;
};

std::string TwoHex(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

Fields FieldsOf(const FrameRecord& record) {
  Fields f;
  switch (record.chunk.kind) {
    case Chunk::Kind::kGarbage:
      f.kind = "garbage";
      return f;
    case Chunk::Kind::kIncomplete:
      f.kind = "incomplete";
      return f;
    case Chunk::Kind::kFrame:
      break;
  }
  const FrameDescription d = DescribeFrame(record.chunk.bytes);
  f.kind = std::string(KindName(d.kind));
  f.checksum = d.checksum_ok ? "ok" : "bad";
  if (d.object >= 0) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", d.object);
    f.object = text;
  }
  if (d.type >= 0) f.type = TwoHex(d.type);
  if (d.type >= 0) f.payload = HexPairs(d.payload);
  f.event = d.event;
  if (record.reply) {
    f.reply = std::string(ReplyName(record.reply->kind));
    f.reply_bytes = HexPairs(record.reply->bytes);
    f.reply_delay = std::to_string(record.reply->delay.count());
  }
  return f;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

}  // namespace

std::string TsvHeader() {
  return "time\tbytes\tchecksum\tkind\tobject\ttype\tpayload\tevent\treply\treply_bytes\t"
         "reply_delay_ms";
}

std::string FormatRecord(OutputFormat format, const FrameRecord& record) {
  const Fields f = FieldsOf(record);
  const std::string bytes = HexPairs(record.chunk.bytes);
  switch (format) {
    case OutputFormat::kTsv:
      return record.time + '\t' + bytes + '\t' + f.checksum + '\t' + f.kind + '\t' + f.object +
             '\t' + f.type + '\t' + f.payload + '\t' + f.event + '\t' + f.reply + '\t' +
             f.reply_bytes + '\t' + f.reply_delay;
    case OutputFormat::kJson: {
      std::string json = "{\"time\":" + JsonString(record.time) +
                         ",\"bytes\":" + JsonString(bytes) + ",\"kind\":" + JsonString(f.kind);
      json += ",\"checksum_ok\":";
      json += f.checksum.empty() ? "null" : (f.checksum == "ok" ? "true" : "false");
      json += ",\"object\":" + (f.object.empty() ? "null" : std::to_string(std::stoi(f.object)));
      json += ",\"type\":" + JsonOrNull(f.type);
      json += ",\"payload\":" + (f.type.empty() ? "null" : JsonString(f.payload));
      json += ",\"event\":" + JsonOrNull(f.event);
      json += ",\"reply\":" + JsonOrNull(f.reply);
      json += ",\"reply_bytes\":" + (f.reply.empty() ? "null" : JsonString(f.reply_bytes));
      json += ",\"reply_delay_ms\":" + (f.reply.empty() ? "null" : f.reply_delay);
      return json + "}";
    }
    case OutputFormat::kText:
      break;
  }
  std::string line = record.time + "  " + bytes + "  ";
  if (!f.checksum.empty()) line += "crc " + f.checksum + "  ";
  line += f.kind;
  if (!f.object.empty()) line += "  object " + f.object;
  if (!f.type.empty())
    line += "  type " + f.type + "  payload " + (f.payload.empty() ? "-" : f.payload);
  if (!f.event.empty()) line += "  " + f.event;
  if (record.reply) {
    line += "  -> " + f.reply;
    if (!f.reply_bytes.empty()) line += " " + f.reply_bytes;
    if (record.reply->delay.count() > 0) line += " after " + f.reply_delay + " ms";
  }
  return line;
}

}  // namespace gateway::console_sim
