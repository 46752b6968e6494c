// SPDX-License-Identifier: BSD-3-Clause
#include "input/mcap_reader.h"

#include <lz4frame.h>
#include <sys/types.h>
#include <zstd.h>

#include <cstring>

namespace {

constexpr std::uint8_t kMagic[8] = {0x89, 'M', 'C', 'A', 'P', '0', '\r', '\n'};
constexpr std::size_t kRecordHeader = 9;  // opcode, u64 length
constexpr std::size_t kFooterBody = 20;
constexpr std::size_t kTail = kRecordHeader + kFooterBody + sizeof kMagic;

enum Op : std::uint8_t {
  kOpHeader = 0x01,
  kOpFooter = 0x02,
  kOpSchema = 0x03,
  kOpChannel = 0x04,
  kOpMessage = 0x05,
  kOpChunk = 0x06,
  kOpDataEnd = 0x0F,
};

// Little-endian fields, each checked against what is left.
class Fields {
 public:
  Fields(const std::uint8_t* p, std::size_t n) : p_(p), left_(n) {}
  bool U8(std::uint8_t& v) { return Int(v); }
  bool U16(std::uint16_t& v) { return Int(v); }
  bool U32(std::uint32_t& v) { return Int(v); }
  bool U64(std::uint64_t& v) { return Int(v); }
  bool String(std::string& s) {
    std::uint32_t n = 0;
    if (!U32(n) || n > left_) return false;
    s.assign(reinterpret_cast<const char*>(p_), n);
    Skip(n);
    return true;
  }
  // A u32 byte count and that many bytes, skipped (a map, a schema's text).
  bool SkipSized32() {
    std::uint32_t n = 0;
    if (!U32(n) || n > left_) return false;
    Skip(n);
    return true;
  }
  const std::uint8_t* Here() const { return p_; }
  std::size_t Left() const { return left_; }
  void Skip(std::size_t n) {
    p_ += n;
    left_ -= n;
  }

 private:
  template <typename T>
  bool Int(T& v) {
    if (left_ < sizeof(T)) return false;
    v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
      v = static_cast<T>(v | static_cast<T>(static_cast<T>(p_[i]) << (8 * i)));
    Skip(sizeof(T));
    return true;
  }
  const std::uint8_t* p_;
  std::size_t left_;
};

std::uint64_t Le64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

struct CrcTable {
  std::uint32_t t[256];
  CrcTable() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
  }
};

}  // namespace

std::uint32_t McapCrc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc) {
  static const CrcTable table;
  crc = ~crc;
  for (std::size_t i = 0; i < n; ++i) crc = table.t[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

McapReader::McapReader() = default;

McapReader::~McapReader() {
  ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(zstd_));
  if (lz4_ != nullptr) LZ4F_freeDecompressionContext(static_cast<LZ4F_dctx*>(lz4_));
}

McapReader::Result McapReader::Fail(const std::string& why) {
  if (error_.empty()) error_ = why;
  return kError;
}

bool McapReader::Bad(const std::string& why) {
  Fail(why);
  return false;
}

bool McapReader::Open(std::FILE* file) {
  file_ = file;
  error_.clear();
  schemas_.clear();
  channels_.clear();
  channel_index_.assign(65536, -1);
  std::uint8_t magic[sizeof kMagic] = {};
  if (fseeko(file_, 0, SEEK_END) != 0 || (file_size_ = static_cast<std::uint64_t>(ftello(file_))) < sizeof magic ||
      fseeko(file_, 0, SEEK_SET) != 0 || std::fread(magic, 1, sizeof magic, file_) != sizeof magic ||
      std::memcmp(magic, kMagic, sizeof magic) != 0) {
    Fail("not an MCAP file");
    return false;
  }
  return Rewind();
}

bool McapReader::Rewind() {
  offset_ = sizeof kMagic;
  done_ = false;
  chunk_pos_ = chunk_end_ = 0;
  return error_.empty();
}

const McapChannel* McapReader::ChannelOf(std::uint16_t id) const {
  if (channel_index_.empty() || channel_index_[id] < 0) return nullptr;
  return &channels_[static_cast<std::size_t>(channel_index_[id])];
}

bool McapReader::ReadExact(void* out, std::size_t n) {
  if (fseeko(file_, static_cast<off_t>(offset_), SEEK_SET) != 0 || std::fread(out, 1, n, file_) != n) return false;
  offset_ += n;
  return true;
}

bool McapReader::Skip(std::uint64_t n) {
  offset_ += n;  // within the file: checked by the caller
  return true;
}

bool McapReader::ReadBody(std::uint64_t length, const char* what) {
  if (length > kMaxRecordBytes)
    return Bad(std::string("a ") + what + " record of " + std::to_string(length) + " bytes: corrupt file?");
  record_.resize(static_cast<std::size_t>(length));
  if (length > 0 && !ReadExact(record_.data(), record_.size()))
    return Bad(std::string("cannot read a ") + what + " record");
  return true;
}

bool McapReader::TakeSchema(const std::uint8_t* p, std::size_t n) {
  Fields f(p, n);
  Schema s{};
  std::string encoding;
  if (!f.U16(s.id) || !f.String(s.name) || !f.String(encoding) || !f.SkipSized32()) return false;
  // A channel may have come first.
  for (McapChannel& c : channels_)
    if (c.schema_id == s.id && c.schema_name.empty()) c.schema_name = s.name;
  for (Schema& have : schemas_)
    if (have.id == s.id) {
      have = s;
      return true;
    }
  schemas_.push_back(s);
  return true;
}

bool McapReader::TakeChannel(const std::uint8_t* p, std::size_t n) {
  Fields f(p, n);
  McapChannel c;
  if (!f.U16(c.id) || !f.U16(c.schema_id) || !f.String(c.topic) || !f.String(c.message_encoding) || !f.SkipSized32())
    return false;
  for (const Schema& s : schemas_)
    if (s.id == c.schema_id) c.schema_name = s.name;
  if (const std::int32_t at = channel_index_[c.id]; at >= 0) {
    const McapChannel& have = channels_[static_cast<std::size_t>(at)];
    if (have.topic != c.topic || have.message_encoding != c.message_encoding || have.schema_id != c.schema_id) {
      Fail("channel " + std::to_string(c.id) + " is declared twice, differently");
      return false;
    }
    if (have.schema_name.empty()) channels_[static_cast<std::size_t>(at)].schema_name = c.schema_name;
    return true;
  }
  channel_index_[c.id] = static_cast<std::int32_t>(channels_.size());
  channels_.push_back(std::move(c));
  return true;
}

bool McapReader::Decompress(const std::string& compression, const std::uint8_t* in, std::size_t in_size,
                            std::uint64_t out_size) {
  chunk_.resize(static_cast<std::size_t>(out_size));
  std::uint8_t spare = 0;
  std::uint8_t* out = chunk_.empty() ? &spare : chunk_.data();
  if (compression.empty()) {
    if (in_size != out_size) return false;
    if (in_size > 0) std::memcpy(out, in, in_size);
    return true;
  }
  if (compression == "zstd") {
    if (zstd_ == nullptr) zstd_ = ZSTD_createDCtx();
    if (zstd_ == nullptr) return false;
    const std::size_t got = ZSTD_decompressDCtx(static_cast<ZSTD_DCtx*>(zstd_), out, chunk_.size(), in, in_size);
    return !ZSTD_isError(got) && got == out_size;
  }
  if (compression == "lz4") {
    if (lz4_ == nullptr) {
      LZ4F_dctx* ctx = nullptr;
      if (LZ4F_isError(LZ4F_createDecompressionContext(&ctx, LZ4F_VERSION))) return false;
      lz4_ = ctx;
    }
    LZ4F_dctx* ctx = static_cast<LZ4F_dctx*>(lz4_);
    LZ4F_resetDecompressionContext(ctx);
    std::size_t done = 0, hint = 1;
    // Frames one after another, until the input is used up.
    while (in_size > 0) {
      std::size_t dst = chunk_.size() - done, src = in_size;
      hint = LZ4F_decompress(ctx, out + done, &dst, in, &src, nullptr);
      if (LZ4F_isError(hint) || (src == 0 && dst == 0)) {
        LZ4F_resetDecompressionContext(ctx);
        return false;
      }
      in += src;
      in_size -= src;
      done += dst;
    }
    return hint == 0 && done == out_size;
  }
  Fail("a chunk compressed with '" + compression + "', which this reader does not know");
  return false;
}

bool McapReader::OpenChunk() {
  Fields f(record_.data(), record_.size());
  std::uint64_t start = 0, end = 0, size = 0, records = 0;
  std::uint32_t crc = 0;
  std::string compression;
  if (!f.U64(start) || !f.U64(end) || !f.U64(size) || !f.U32(crc) || !f.String(compression) || !f.U64(records) ||
      records > f.Left())
    return Bad("a malformed chunk record");
  if (size > kMaxRecordBytes) return Bad("a chunk of " + std::to_string(size) + " bytes: corrupt file?");
  if (!Decompress(compression, f.Here(), static_cast<std::size_t>(records), size))
    return Bad("a " + (compression.empty() ? std::string("stored") : compression) +
               " chunk that does not decompress to its stated size");
  if (crc != 0 && McapCrc32(chunk_.data(), chunk_.size()) != crc)
    return Bad("a chunk whose check sum is wrong: corrupt file");
  chunk_pos_ = 0;
  chunk_end_ = chunk_.size();
  return true;
}

McapReader::Result McapReader::NextInChunk(McapMessage& m) {
  while (chunk_pos_ < chunk_end_) {
    const std::size_t left = chunk_end_ - chunk_pos_;
    if (left < kRecordHeader) return Fail("a chunk ends inside a record");
    const std::uint8_t* p = chunk_.data() + chunk_pos_;
    const std::uint64_t length = Le64(p + 1);
    if (length > left - kRecordHeader) return Fail("a record runs past the end of its chunk");
    chunk_pos_ += kRecordHeader + static_cast<std::size_t>(length);
    const std::uint8_t* body = p + kRecordHeader;
    const std::size_t n = static_cast<std::size_t>(length);
    if (p[0] == kOpSchema && !TakeSchema(body, n)) return Fail("a malformed schema record");
    if (p[0] == kOpChannel && !TakeChannel(body, n)) return Fail("a malformed channel record");
    if (p[0] != kOpMessage) continue;
    Fields f(body, n);
    std::uint32_t sequence = 0;
    std::uint64_t publish = 0;
    if (!f.U16(m.channel_id) || !f.U32(sequence) || !f.U64(m.log_time) || !f.U64(publish))
      return Fail("a malformed message record");
    if (ChannelOf(m.channel_id) == nullptr)
      return Fail("a message on channel " + std::to_string(m.channel_id) + ", which no channel record declares");
    m.data = f.Here();
    m.size = f.Left();
    return kMessage;
  }
  return kEnd;
}

bool McapReader::ReadRecord() {
  const std::uint64_t at = offset_;
  if (at >= file_size_) return Bad("the file ends before its footer: truncated?");
  if (file_size_ - at < kRecordHeader) return Bad("truncated record at byte " + std::to_string(at));
  std::uint8_t head[kRecordHeader];
  if (!ReadExact(head, sizeof head)) return Bad("cannot read the record at byte " + std::to_string(at));
  const std::uint64_t length = Le64(head + 1);
  if (length > file_size_ - offset_)
    return Bad("the record at byte " + std::to_string(at) + " runs past the end of the file: truncated?");
  switch (head[0]) {
    case kOpFooter:
    case kOpDataEnd: done_ = true; return true;
    case kOpSchema:
    case kOpChannel:
    case kOpMessage:
      if (!ReadBody(length, head[0] == kOpMessage ? "message" : "schema or channel")) return false;
      if (head[0] == kOpSchema && !TakeSchema(record_.data(), record_.size())) return Bad("a malformed schema record");
      if (head[0] == kOpChannel && !TakeChannel(record_.data(), record_.size()))
        return Bad("a malformed channel record");
      if (head[0] == kOpMessage) {
        // Parsed where chunked messages are: one record, alone.
        chunk_.swap(record_);
        record_.clear();
        chunk_.insert(chunk_.begin(), head, head + kRecordHeader);
        chunk_pos_ = 0;
        chunk_end_ = chunk_.size();
      }
      return true;
    case kOpChunk: return ReadBody(length, "chunk") && OpenChunk();
    default:  // header, indexes, attachments, metadata, statistics
      Skip(length);
      return true;
  }
}

McapReader::Result McapReader::Next(McapMessage& m) {
  if (!error_.empty()) return kError;
  for (;;) {
    const Result r = NextInChunk(m);
    if (r != kEnd) return r;
    if (done_) return kEnd;
    if (!ReadRecord()) return kError;
  }
}

bool McapReader::LoadSummary(bool& found) {
  found = false;
  if (file_size_ < sizeof kMagic + kTail) return true;
  std::uint8_t tail[kTail];
  offset_ = file_size_ - kTail;
  if (!ReadExact(tail, sizeof tail)) return true;
  if (tail[0] != kOpFooter || Le64(tail + 1) != kFooterBody ||
      std::memcmp(tail + kRecordHeader + kFooterBody, kMagic, sizeof kMagic) != 0)
    return true;  // an unfinished file: the pass over it says what is wrong
  const std::uint64_t start = Le64(tail + kRecordHeader), end = file_size_ - kTail;
  if (start == 0) return true;
  if (start < sizeof kMagic || start > end) return Bad("the footer points outside the file");
  offset_ = start;
  while (offset_ < end) {
    std::uint8_t head[kRecordHeader];
    if (end - offset_ < kRecordHeader || !ReadExact(head, sizeof head)) return Bad("a malformed summary");
    const std::uint64_t length = Le64(head + 1);
    if (length > end - offset_) return Bad("a summary record runs past the footer");
    if (head[0] != kOpSchema && head[0] != kOpChannel) {
      Skip(length);
      continue;
    }
    if (!ReadBody(length, "summary")) return false;
    if (head[0] == kOpSchema && !TakeSchema(record_.data(), record_.size()))
      return Bad("a malformed schema record in the summary");
    if (head[0] == kOpChannel && !TakeChannel(record_.data(), record_.size()))
      return Bad("a malformed channel record in the summary");
  }
  found = !channels_.empty();
  return true;
}

bool McapReader::LoadChannels() {
  bool found = false;
  if (!LoadSummary(found)) return false;
  if (!found) {
    Rewind();
    McapMessage m;
    Result r;
    while ((r = Next(m)) == kMessage) {
    }
    if (r == kError) return false;
  }
  return Rewind();
}
