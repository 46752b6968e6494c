// SPDX-License-Identifier: BSD-3-Clause
#include "input/ros2_storage.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "input/mcap_reader.h"

namespace {

bool StartsWith(const std::uint8_t* p, std::size_t n, const char* magic, std::size_t m) {
  return n >= m && std::memcmp(p, magic, m) == 0;
}

class SqliteStorage : public Ros2Storage {
 public:
  ~SqliteStorage() override {
    sqlite3_finalize(stmt_);
    sqlite3_close(db_);
  }
  bool Open(const std::string& path, std::string& why) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
      why = Said();
      return false;
    }
    // A bag in write-ahead-log mode wants to write beside itself, even to be
    // read; where it may not (a read-only folder), it is read as it stands.
    const int rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) & 0xFF;
    if (rc != SQLITE_READONLY && rc != SQLITE_CANTOPEN) return true;
    sqlite3_close(db_);
    db_ = nullptr;
    std::string uri = "file:";
    for (const char c : path) {
      const unsigned char u = static_cast<unsigned char>(c);
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", u);
      uri += (c == '?' || c == '#' || c == '%' || u < 0x21) ? std::string(hex) : std::string(1, c);
    }
    uri += "?immutable=1";
    if (sqlite3_open_v2(uri.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr) ==
        SQLITE_OK)
      return true;
    why = Said();
    return false;
  }
  bool Topics(std::vector<TopicInfo>& out, std::string& why) override {
    // Tables, not views: a view could make any query run without end.
    if (!Prepare("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('topics', 'messages')", why))
      return false;
    if (sqlite3_step(stmt_) != SQLITE_ROW || sqlite3_column_int(stmt_, 0) != 2) {
      why = "not a ROS 2 bag's sqlite3 file (no tables of topics and messages)";
      return false;
    }
    if (!Prepare("SELECT name, type, serialization_format FROM topics ORDER BY id", why)) return false;
    int rc;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) out.push_back({Text(0), Text(1), Text(2)});
    return Finish(rc, why);
  }
  bool Select(const std::string& topic, std::string& why) override {
    if (!Prepare("SELECT m.data FROM messages m JOIN topics t ON m.topic_id = t.id WHERE t.name = ?1 "
                 "ORDER BY m.timestamp, m.id",
                 why))
      return false;
    if (sqlite3_bind_text(stmt_, 1, topic.c_str(), static_cast<int>(topic.size()), SQLITE_TRANSIENT) == SQLITE_OK)
      return true;
    why = Said();
    return false;
  }
  int Next(const std::uint8_t*& data, std::size_t& size, std::string& why) override {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
      data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, 0));
      size = static_cast<std::size_t>(sqlite3_column_bytes(stmt_, 0));
      return 1;
    }
    return Finish(rc, why) ? 0 : -1;
  }

 private:
  std::string Said() const { return db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open"; }
  bool Prepare(const char* sql, std::string& why) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) == SQLITE_OK) return true;
    why = "not a ROS 2 bag's sqlite3 file (" + Said() + ")";
    return false;
  }
  bool Finish(int rc, std::string& why) {
    if (rc == SQLITE_DONE) return true;
    why = "corrupt sqlite3 file (" + Said() + ")";
    return false;
  }
  std::string Text(int col) {
    const unsigned char* t = sqlite3_column_text(stmt_, col);
    return t != nullptr ? std::string(reinterpret_cast<const char*>(t)) : std::string();
  }
  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

class McapStorage : public Ros2Storage {
 public:
  ~McapStorage() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool Open(const std::string& path, std::string& why) {
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
      why = std::strerror(errno);
      return false;
    }
    if (reader_.Open(file_)) return true;
    why = reader_.Error();
    return false;
  }
  bool Topics(std::vector<TopicInfo>& out, std::string& why) override {
    if (!reader_.LoadChannels()) {
      why = reader_.Error();
      return false;
    }
    for (const McapChannel& c : reader_.Channels()) out.push_back({c.topic, c.schema_name, c.message_encoding});
    return true;
  }
  bool Select(const std::string& topic, std::string&) override {
    topic_ = topic;
    return true;
  }
  int Next(const std::uint8_t*& data, std::size_t& size, std::string& why) override {
    McapMessage m;
    for (;;) {
      switch (reader_.Next(m)) {
        case McapReader::kMessage:
          // By name: a topic may have several channels.
          if (reader_.ChannelOf(m.channel_id)->topic != topic_) continue;
          data = m.data;
          size = m.size;
          return 1;
        case McapReader::kEnd: return 0;
        case McapReader::kError: why = reader_.Error(); return -1;
      }
    }
  }

 private:
  std::FILE* file_ = nullptr;
  McapReader reader_;
  std::string topic_;
};

// Which kind of storage file `path` is, by its first bytes; empty with `why` set when neither.
std::string StorageKind(const std::string& path, std::string& why) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    why = std::strerror(errno);
    return std::string();
  }
  std::uint8_t head[16] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (StartsWith(head, got, "SQLite format 3", 16)) return "sqlite3";
  if (StartsWith(head, got, "\x89MCAP0\r\n", 8)) return "mcap";
  why = "not a ROS 2 bag (a folder with metadata.yaml, or an sqlite3 or MCAP file)";
  return std::string();
}

}  // namespace

std::unique_ptr<Ros2Storage> OpenStorage(const std::string& path, std::string& why) {
  const std::string kind = StorageKind(path, why);
  if (kind == "sqlite3") {
    auto s = std::make_unique<SqliteStorage>();
    if (s->Open(path, why)) return s;
  } else if (kind == "mcap") {
    auto s = std::make_unique<McapStorage>();
    if (s->Open(path, why)) return s;
  }
  return nullptr;
}
