// SPDX-License-Identifier: BSD-3-Clause
// A small MCAP reader: the records of a file, one message at a time, with
// chunks uncompressed or compressed with zstd or lz4. Every length is checked
// against what holds it before it is used; memory is bounded by the largest
// chunk or record, not by the file.
//
//   McapReader r;
//   if (!r.Open(file)) { ... r.Error() ... }
//   McapMessage m;
//   while (r.Next(m) == McapReader::kMessage) Use(r.ChannelOf(m.channel_id), m.data, m.size);
#ifndef SCANPILOT_INPUT_MCAP_READER_H
#define SCANPILOT_INPUT_MCAP_READER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct McapChannel {
  std::uint16_t id = 0;
  std::uint16_t schema_id = 0;  // 0: none
  std::string topic;
  std::string message_encoding;
  std::string schema_name;  // from its Schema record, when one came first
};

// Valid until the next call of Next.
struct McapMessage {
  std::uint16_t channel_id = 0;
  std::uint64_t log_time = 0;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

class McapReader {
 public:
  // A record outside chunks, and a chunk before and after decompression,
  // larger than this is refused as corrupt.
  static constexpr std::uint64_t kMaxRecordBytes = 64u << 20;

  enum Result { kMessage, kEnd, kError };

  McapReader();
  ~McapReader();
  McapReader(const McapReader&) = delete;
  McapReader& operator=(const McapReader&) = delete;

  // Checks the magic of `file` (not owned; it must stay open and seekable).
  bool Open(std::FILE* file);
  // Every channel of the file: from its summary section when it has one,
  // else from a pass over all of it. Then back at the first record.
  bool LoadChannels();
  // The next message in file order. kError is final.
  Result Next(McapMessage& m);
  // Back at the first record; the channels are kept.
  bool Rewind();

  const std::vector<McapChannel>& Channels() const { return channels_; }
  // Null when no Channel record gave `id`.
  const McapChannel* ChannelOf(std::uint16_t id) const;
  // One line, empty when all is well.
  const std::string& Error() const { return error_; }

 private:
  struct Schema {
    std::uint16_t id;
    std::string name;
  };
  Result Fail(const std::string& why);
  bool Bad(const std::string& why);  // Fail, as false
  bool ReadExact(void* out, std::size_t n);
  bool Skip(std::uint64_t n);
  // A record's body from the file into `record_`.
  bool ReadBody(std::uint64_t length, const char* what);
  bool OpenChunk();
  // The next message of the chunk at hand; kEnd when it is used up.
  Result NextInChunk(McapMessage& m);
  // The next record of the file: into the tables, or a chunk (or a lone
  // message) into `chunk_`; done_ at the footer. False on an error.
  bool ReadRecord();
  bool Decompress(const std::string& compression, const std::uint8_t* in, std::size_t in_size, std::uint64_t out_size);
  // Schema and Channel records; false on a malformed one.
  bool TakeSchema(const std::uint8_t* p, std::size_t n);
  bool TakeChannel(const std::uint8_t* p, std::size_t n);
  bool LoadSummary(bool& found);

  std::FILE* file_ = nullptr;
  std::uint64_t file_size_ = 0;
  std::uint64_t offset_ = 0;  // of the next top-level record
  bool done_ = false;
  std::vector<std::uint8_t> record_;  // a top-level record's body
  std::vector<std::uint8_t> chunk_;   // a chunk's records, decompressed
  std::size_t chunk_pos_ = 0, chunk_end_ = 0;
  std::vector<Schema> schemas_;
  std::vector<McapChannel> channels_;
  std::vector<std::int32_t> channel_index_;  // by channel id: into channels_, or -1
  void* zstd_ = nullptr;                     // ZSTD_DCtx
  void* lz4_ = nullptr;                      // LZ4F_dctx
  std::string error_;
};

// The standard CRC-32 (as zlib's) of `n` bytes, continued from `crc`.
std::uint32_t McapCrc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0);

#endif
