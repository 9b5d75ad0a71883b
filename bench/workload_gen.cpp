// bench/workload_gen.cpp - one game-like workload written as a .bin file and as the same data
// for protobuf and FlatBuffers, so bench/run.sh can time the tool beside protoc and flatc.
//
//   qvx_workload <output folder> <object count> [seed]
//
// Writes, for a given count and seed always the same bytes:
//   <folder>/game/workload.bin   through the project's own encoder (WriteBinFile)
//   <folder>/workload.proto      proto3 schema: one message per class, file = repeated Object
//   <folder>/workload.pb         protobuf wire format of the same objects
//   <folder>/workload.pbtxt      the text `protoc --decode` prints for workload.pb
//   <folder>/workload.fbs        FlatBuffers schema: a root table holding a vector of objects
//   <folder>/workload.json       the objects as JSON for `flatc -b`
//
// Each object has 22 fields: integers (raw, DynValInt), floats (raw, Float-quantized), a raw, a
// Pos- and a Scale-quantized vector, a quantized quaternion, a bool, two strings of 0 to 40
// bytes, two references to objects of the file (sometimes 0), two hashes, an array of 0 to 8
// ints, a nested class, a byte, a short, an enumeration, a flag set and an array of 0 to 3
// classes. Raw floats are decimals with at most four places; quantized values are stored as
// they decode, so all formats hold what the tool prints. The one exception: flatc prints floats
// with six decimals, so workload.json gives every float in that form (the FlatBuffers binary
// then round-trips through flatc's JSON exactly); a quantized float below 16 in magnitude may
// differ there from the other formats by up to 5e-7. Object IDs are distinct by construction.
//
// The schema is described once (VisitObject) and fed to one sink per output format. Exits 1
// with a message when anything cannot be built or written, 2 after a usage error.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "bench/bench_classes.h"
#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/name_hash.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/quantization.h"
#include "types/type_stream.h"

namespace {

constexpr uint64_t kDefaultSeed = 20240611;
constexpr uint32_t kMaxStringBytes = 40;
constexpr uint32_t kMaxCounts = 8;
constexpr uint32_t kMaxSlots = 3;
constexpr FloatQuantization kRatioQuantization = {0.0f, 1.0f, 0.001f, 0};

constexpr const char* kWords[] = {
    "crate", "barrel", "door",    "zombie", "survivor", "mall",  "food",    "weapon",   "ammo",
    "van",   "light",  "trigger", "north",  "south",    "plaza", "wooden",  "metal",    "heavy",
    "exit",  "store",  "guard's", "roof",   "atrium",   "cart",  "shotgun", "generator"};
constexpr const char* kWeaponTypeNames[] = {"WEAPON_TYPE_GUN", "WEAPON_TYPE_NOT_GUN",
                                            "WEAPON_TYPE_ANY"};

// ---- the data ---------------------------------------------------------------------------------

struct Vec3 {
  float x, y, z;
};
struct Quat {
  float x, y, z, w;
};
struct Settings {
  int32_t count;
  float scale;
  std::string label;
};
struct Slot {
  uint32_t kind;
  int16_t amount;
  float condition;
};
struct Record {
  uint32_t id;
  int32_t health;
  int32_t score;
  float speed;
  float ratio;
  Vec3 position;
  Vec3 location;
  Vec3 scale;
  Quat rotation;
  bool enabled;
  std::string name;
  std::string comment;
  uint32_t target;
  uint32_t owner;
  uint32_t template_hash;
  uint32_t sound;
  std::vector<int32_t> counts;
  Settings settings;
  int8_t layer;
  int16_t priority;
  uint32_t weapon;
  uint32_t upgrades;
  std::vector<Slot> slots;
};

// splitmix64: the same numbers on every compiler and library, unlike <random>'s distributions.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  /// Uniform in [low, high] (the tiny modulo bias does not matter here).
  int64_t Int(int64_t low, int64_t high) {
    return low + static_cast<int64_t>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  bool Chance(int percent) { return Int(0, 99) < percent; }
  /// A decimal with `places` places in [low, high], as the nearest float.
  float Decimal(double low, double high, int places) {
    double scale = 1;
    for (int i = 0; i < places; ++i) scale *= 10;
    const int64_t units =
        Int(static_cast<int64_t>(low * scale), static_cast<int64_t>(high * scale));
    return static_cast<float>(static_cast<double>(units) / scale);
  }

 private:
  uint64_t state_;
};

// The murmur3 finaliser is a bijection of 32-bit words, so distinct inputs give distinct IDs.
uint32_t Mix32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

// Quantized values go through the encoder and decoder once, so each is a value that decodes
// to itself and every format stores exactly what the .bin file holds.
class Quantizer {
 public:
  Vec3 Vector(QuantizationMode mode, Vec3 v) {
    float f[3] = {v.x, v.y, v.z};
    BitWriter writer(buffer_);
    BitReader reader = Reader(EncodeVec3(writer, mode, f));
    Check(DecodeVec3(reader, mode, f));
    return {f[0], f[1], f[2]};
  }
  Quat Rotation(Quat q) {
    float f[4] = {q.x, q.y, q.z, q.w};
    BitWriter writer(buffer_);
    BitReader reader = Reader(EncodeQuat(writer, f));
    Check(DecodeQuat(reader, f));
    return {f[0], f[1], f[2], f[3]};
  }
  float Ratio(float x) {
    BitWriter writer(buffer_);
    BitReader reader = Reader(EncodeQuantizedFloat(writer, kRatioQuantization, x));
    Check(DecodeQuantizedFloat(reader, kRatioQuantization, x));
    return x;
  }

 private:
  BitReader Reader(bool encoded) {
    Check(encoded);
    return BitReader(buffer_.data, buffer_.size);
  }
  static void Check(bool ok) {
    if (!ok) {
      std::fputs("A quantized value does not encode.\n", stderr);
      std::exit(1);
    }
  }
  ByteBuffer buffer_;
};

class RecordMaker {
 public:
  RecordMaker(uint32_t count, uint64_t seed)
      : count_(count),
        rng_(seed),
        id_base_(1 + static_cast<uint32_t>(Rng(seed ^ 0x51u).Next() % (0xFFFFFFFFu - count))) {}

  uint32_t Id(uint32_t index) const { return Mix32(id_base_ + index); }

  void Make(uint32_t index, Record& r) {
    r.id = Id(index);
    r.health = static_cast<int32_t>(rng_.Chance(5) ? rng_.Int(-1000, -1) : rng_.Int(0, 100000));
    r.score = static_cast<int32_t>(rng_.Int(0, rng_.Chance(50) ? 1000 : 50000000));
    r.speed = rng_.Decimal(0, 50, 4);
    r.ratio = quantizer_.Ratio(rng_.Decimal(0, 1, 4));
    r.position = {rng_.Decimal(-4000, 4000, 4), rng_.Decimal(-200, 800, 4),
                  rng_.Decimal(-4000, 4000, 4)};
    r.location = quantizer_.Vector(
        QuantizationMode::Pos,
        {rng_.Decimal(-1300, 1100, 4), rng_.Decimal(-50, 300, 4), rng_.Decimal(-1300, 1100, 4)});
    r.scale = quantizer_.Vector(
        QuantizationMode::Scale,
        {rng_.Decimal(0.1, 10, 2), rng_.Decimal(0.1, 10, 2), rng_.Decimal(0.1, 10, 2)});
    r.rotation = quantizer_.Rotation(RandomRotation());
    r.enabled = rng_.Chance(70);
    r.name = Text();
    r.comment = Text();
    r.target = Reference();
    r.owner = Reference();
    r.template_hash = NameHash(Text().c_str());
    r.sound = rng_.Chance(20) ? 0 : NameHash(Text().c_str());
    r.counts.resize(static_cast<size_t>(rng_.Int(0, kMaxCounts)));
    for (int32_t& value : r.counts) {
      value = static_cast<int32_t>(rng_.Chance(10) ? rng_.Int(-50, -1) : rng_.Int(0, 5000));
    }
    r.settings = {static_cast<int32_t>(rng_.Int(0, 64)), rng_.Decimal(0.5, 2, 4), Text()};
    r.layer = static_cast<int8_t>(rng_.Int(-128, 127));
    r.priority = static_cast<int16_t>(rng_.Int(-32768, 32767));
    r.weapon = static_cast<uint32_t>(rng_.Int(0, 2));
    r.upgrades = static_cast<uint32_t>(rng_.Int(0, 3));
    r.slots.resize(static_cast<size_t>(rng_.Int(0, kMaxSlots)));
    for (Slot& slot : r.slots) {
      slot = {NameHash(kWords[rng_.Int(0, std::size(kWords) - 1)]),
              static_cast<int16_t>(rng_.Int(0, 999)), rng_.Decimal(0, 1, 4)};
    }
  }

 private:
  // 0 to 40 bytes of words; one in ten strings is empty.
  std::string Text() {
    std::string text;
    if (rng_.Chance(10)) return text;
    const size_t length = static_cast<size_t>(rng_.Int(1, kMaxStringBytes));
    while (text.size() < length) {
      if (!text.empty()) text += rng_.Chance(20) ? '_' : ' ';
      text += kWords[rng_.Int(0, std::size(kWords) - 1)];
    }
    text.resize(length);
    return text;
  }
  // Mostly an object of this file, sometimes none.
  uint32_t Reference() {
    return rng_.Chance(15) ? 0 : Id(static_cast<uint32_t>(rng_.Int(0, count_ - 1)));
  }
  Quat RandomRotation() {
    for (;;) {
      const float q[4] = {rng_.Decimal(-1, 1, 4), rng_.Decimal(-1, 1, 4), rng_.Decimal(-1, 1, 4),
                          rng_.Decimal(-1, 1, 4)};
      const float length_squared = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
      if (length_squared < 0.01f) continue;
      float n[4] = {q[0], q[1], q[2], q[3]};
      NormaliseQuaternion(n);
      return {n[0], n[1], n[2], n[3]};
    }
  }

  uint32_t count_;
  Rng rng_;
  uint32_t id_base_;
  Quantizer quantizer_;
};

// ---- the schema, once -------------------------------------------------------------------------

enum class IntKind { kInt32, kSint32, kUint32, kFixed32 };

std::string IntText(IntKind kind, int64_t value) {
  const bool is_unsigned = kind == IntKind::kUint32 || kind == IntKind::kFixed32;
  return is_unsigned ? std::to_string(static_cast<uint32_t>(value))
                     : std::to_string(static_cast<int32_t>(value));
}

/// Receives the fields of a record in field-number order.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Int(const char* name, uint32_t number, IntKind kind, int64_t value) = 0;
  virtual void Float(const char* name, uint32_t number, float value) = 0;
  virtual void Bool(const char* name, uint32_t number, bool value) = 0;
  virtual void String(const char* name, uint32_t number, const std::string& value) = 0;
  virtual void Enum(const char* name, uint32_t number, uint32_t value, const char* symbol) = 0;
  virtual void PackedInts(const char* name, uint32_t number, const std::vector<int32_t>& v) = 0;
  /// A message (a struct in FlatBuffers for Vec3 and Quat); inside a list `name` is unused.
  virtual void BeginMessage(const char* name, uint32_t number) = 0;
  virtual void EndMessage() = 0;
  /// Brackets the elements of a repeated message field.
  virtual void BeginList(const char* name) = 0;
  virtual void EndList() = 0;
};

void VisitVec3(Sink& sink, const char* name, uint32_t number, const Vec3& v) {
  sink.BeginMessage(name, number);
  sink.Float("x", 1, v.x);
  sink.Float("y", 2, v.y);
  sink.Float("z", 3, v.z);
  sink.EndMessage();
}

void VisitObject(Sink& sink, const Record& r) {
  sink.BeginMessage("objects", 1);
  sink.Int("id", 1, IntKind::kFixed32, r.id);
  sink.Int("health", 2, IntKind::kSint32, r.health);
  sink.Int("score", 3, IntKind::kInt32, r.score);
  sink.Float("speed", 4, r.speed);
  sink.Float("ratio", 5, r.ratio);
  VisitVec3(sink, "position", 6, r.position);
  VisitVec3(sink, "location", 7, r.location);
  VisitVec3(sink, "scale", 8, r.scale);
  sink.BeginMessage("rotation", 9);
  sink.Float("x", 1, r.rotation.x);
  sink.Float("y", 2, r.rotation.y);
  sink.Float("z", 3, r.rotation.z);
  sink.Float("w", 4, r.rotation.w);
  sink.EndMessage();
  sink.Bool("enabled", 10, r.enabled);
  sink.String("name", 11, r.name);
  sink.String("comment", 12, r.comment);
  sink.Int("target", 13, IntKind::kUint32, r.target);
  sink.Int("owner", 14, IntKind::kUint32, r.owner);
  sink.Int("template_hash", 15, IntKind::kFixed32, r.template_hash);
  sink.Int("sound", 16, IntKind::kFixed32, r.sound);
  sink.PackedInts("counts", 17, r.counts);
  sink.BeginMessage("settings", 18);
  sink.Int("count", 1, IntKind::kInt32, r.settings.count);
  sink.Float("scale", 2, r.settings.scale);
  sink.String("label", 3, r.settings.label);
  sink.EndMessage();
  sink.Int("layer", 19, IntKind::kSint32, r.layer);
  sink.Int("priority", 20, IntKind::kSint32, r.priority);
  sink.Enum("weapon", 21, r.weapon, kWeaponTypeNames[r.weapon]);
  sink.Int("upgrades", 22, IntKind::kUint32, r.upgrades);
  sink.BeginList("slots");
  for (const Slot& slot : r.slots) {
    sink.BeginMessage("slots", 23);
    sink.Int("kind", 1, IntKind::kFixed32, slot.kind);
    sink.Int("amount", 2, IntKind::kSint32, slot.amount);
    sink.Float("condition", 3, slot.condition);
    sink.EndMessage();
  }
  sink.EndList();
  sink.EndMessage();
}

constexpr const char kProtoSchema[] = R"(syntax = "proto3";

package workload;

enum WeaponType {
  WEAPON_TYPE_GUN = 0;
  WEAPON_TYPE_NOT_GUN = 1;
  WEAPON_TYPE_ANY = 2;
}

message Vec3 {
  float x = 1;
  float y = 2;
  float z = 3;
}

message Quat {
  float x = 1;
  float y = 2;
  float z = 3;
  float w = 4;
}

message Settings {
  int32 count = 1;
  float scale = 2;
  string label = 3;
}

message Slot {
  fixed32 kind = 1;
  sint32 amount = 2;
  float condition = 3;
}

message Object {
  fixed32 id = 1;
  sint32 health = 2;
  int32 score = 3;
  float speed = 4;
  float ratio = 5;
  Vec3 position = 6;
  Vec3 location = 7;
  Vec3 scale = 8;
  Quat rotation = 9;
  bool enabled = 10;
  string name = 11;
  string comment = 12;
  uint32 target = 13;
  uint32 owner = 14;
  fixed32 template_hash = 15;
  fixed32 sound = 16;
  repeated int32 counts = 17;
  Settings settings = 18;
  sint32 layer = 19;
  sint32 priority = 20;
  WeaponType weapon = 21;
  uint32 upgrades = 22;
  repeated Slot slots = 23;
}

message Workload {
  repeated Object objects = 1;
}
)";

constexpr const char kFlatBuffersSchema[] = R"(namespace workload;

file_extension "fb";

enum WeaponType : byte { WEAPON_TYPE_GUN = 0, WEAPON_TYPE_NOT_GUN = 1, WEAPON_TYPE_ANY = 2 }

struct Vec3 { x: float; y: float; z: float; }

struct Quat { x: float; y: float; z: float; w: float; }

table Settings { count: int; scale: float; label: string; }

table Slot { kind: uint; amount: short; condition: float; }

table Object {
  id: uint;
  health: int;
  score: int;
  speed: float;
  ratio: float;
  position: Vec3;
  location: Vec3;
  scale: Vec3;
  rotation: Quat;
  enabled: bool;
  name: string;
  comment: string;
  target: uint;
  owner: uint;
  template_hash: uint;
  sound: uint;
  counts: [int];
  settings: Settings;
  layer: byte;
  priority: short;
  weapon: WeaponType;
  upgrades: ubyte;
  slots: [Slot];
}

table Workload { objects: [Object]; }

root_type Workload;
)";

// ---- protobuf wire format ---------------------------------------------------------------------
// Proto3 leaves out scalars equal to their default (a float counts as default only when its bits
// are all 0, as protoc's reflection has it); message fields are always written.

class ProtoWireSink final : public Sink {
 public:
  ProtoWireSink() : stack_(1) {}
  const std::string& bytes() const { return stack_[0]; }

  void Int(const char*, uint32_t number, IntKind kind, int64_t value) override {
    if (value == 0) return;
    if (kind == IntKind::kFixed32) {
      Tag(number, 5);
      Fixed32(static_cast<uint32_t>(value));
      return;
    }
    Tag(number, 0);
    Varint(Wire(kind, value));
  }
  void Float(const char*, uint32_t number, float value) override {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    if (bits == 0) return;
    Tag(number, 5);
    Fixed32(bits);
  }
  void Bool(const char*, uint32_t number, bool value) override {
    if (!value) return;
    Tag(number, 0);
    Varint(1);
  }
  void String(const char*, uint32_t number, const std::string& value) override {
    if (value.empty()) return;
    Tag(number, 2);
    Varint(value.size());
    top().append(value);
  }
  void Enum(const char*, uint32_t number, uint32_t value, const char*) override {
    Int(nullptr, number, IntKind::kInt32, value);
  }
  void PackedInts(const char*, uint32_t number, const std::vector<int32_t>& values) override {
    if (values.empty()) return;
    stack_.emplace_back();
    for (int32_t value : values) Varint(Wire(IntKind::kInt32, value));
    Close(number);
  }
  void BeginMessage(const char*, uint32_t number) override {
    numbers_.push_back(number);
    stack_.emplace_back();
  }
  void EndMessage() override {
    Close(numbers_.back());
    numbers_.pop_back();
  }
  void BeginList(const char*) override {}
  void EndList() override {}

 private:
  static uint64_t Wire(IntKind kind, int64_t value) {
    const int32_t v = static_cast<int32_t>(value);
    switch (kind) {
      case IntKind::kSint32:
        return (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31);
      case IntKind::kInt32:
        return static_cast<uint64_t>(static_cast<int64_t>(v));  // negative: ten bytes
      default:
        return static_cast<uint32_t>(value);
    }
  }
  std::string& top() { return stack_.back(); }
  void Tag(uint32_t number, uint32_t wire_type) { Varint(uint64_t{number} << 3 | wire_type); }
  void Varint(uint64_t value) {
    while (value >= 0x80) {
      top() += static_cast<char>(value | 0x80);
      value >>= 7;
    }
    top() += static_cast<char>(value);
  }
  void Fixed32(uint32_t value) {
    for (int i = 0; i < 4; ++i) top() += static_cast<char>(value >> (8 * i));
  }
  // Pops the innermost buffer and appends it to its parent as a length-delimited field.
  void Close(uint32_t number) {
    std::string content = std::move(stack_.back());
    stack_.pop_back();
    Tag(number, 2);
    Varint(content.size());
    top().append(content);
  }

  std::vector<std::string> stack_;
  std::vector<uint32_t> numbers_;
};

// ---- protobuf text format, as `protoc --decode` prints it ---------------------------------------

class ProtoTextSink final : public Sink {
 public:
  explicit ProtoTextSink(std::string& out) : out_(out) {}

  void Int(const char* name, uint32_t, IntKind kind, int64_t value) override {
    if (value != 0) Line(name, IntText(kind, value).c_str());
  }
  void Float(const char* name, uint32_t, float value) override {
    if (std::bit_cast<uint32_t>(value) == 0) return;
    // Shortest of 6 or 9 significant digits that reads back as the same float.
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
    if (std::strtof(text, nullptr) != value) {
      std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    }
    Line(name, text);
  }
  void Bool(const char* name, uint32_t, bool value) override {
    if (value) Line(name, "true");
  }
  void String(const char* name, uint32_t, const std::string& value) override {
    if (value.empty()) return;
    std::string text = "\"";
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      switch (c) {
        case '\n':
          text += "\\n";
          break;
        case '\r':
          text += "\\r";
          break;
        case '\t':
          text += "\\t";
          break;
        case '"':
          text += "\\\"";
          break;
        case '\'':
          text += "\\'";
          break;
        case '\\':
          text += "\\\\";
          break;
        default:
          if (byte < 0x20 || byte >= 0x7F) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", byte);
            text += octal;
          } else {
            text += c;
          }
      }
    }
    text += '"';
    Line(name, text.c_str());
  }
  void Enum(const char* name, uint32_t, uint32_t value, const char* symbol) override {
    if (value != 0) Line(name, symbol);
  }
  void PackedInts(const char* name, uint32_t, const std::vector<int32_t>& values) override {
    for (int32_t value : values) Line(name, IntText(IntKind::kInt32, value).c_str());
  }
  void BeginMessage(const char* name, uint32_t) override {
    Indent();
    out_.append(name).append(" {\n");
    depth_ += 1;
  }
  void EndMessage() override {
    depth_ -= 1;
    Indent();
    out_.append("}\n");
  }
  void BeginList(const char*) override {}
  void EndList() override {}

 private:
  void Indent() { out_.append(2 * depth_, ' '); }
  void Line(const char* name, const char* value) {
    Indent();
    out_.append(name).append(": ").append(value).append("\n");
  }

  std::string& out_;
  uint32_t depth_ = 0;
};

// ---- JSON for flatc -----------------------------------------------------------------------------
// Every field is given; flatc stores no scalar equal to its default, so that changes no byte.

class JsonSink final : public Sink {
 public:
  /// Opens the root table; Finish closes it.
  explicit JsonSink(std::string& out) : out_(out), first_{true}, in_list_{false} { out_ += '{'; }
  void Finish() { out_ += "}\n"; }

  void Int(const char* name, uint32_t, IntKind kind, int64_t value) override {
    Field(name, IntText(kind, value).c_str());
  }
  void Float(const char* name, uint32_t, float value) override {
    // flatc's own float form: six decimals, trailing zeros dropped, one kept after the point.
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(value));
    std::string trimmed = text;
    const size_t last = trimmed.find_last_not_of('0');
    trimmed.resize(last + (trimmed[last] == '.' ? 2 : 1));
    Field(name, trimmed.c_str());
  }
  void Bool(const char* name, uint32_t, bool value) override {
    Field(name, value ? "true" : "false");
  }
  void String(const char* name, uint32_t, const std::string& value) override {
    std::string text = "\"";
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\') {
        text += '\\';
        text += c;
      } else if (byte < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", byte);
        text += escape;
      } else {
        text += c;
      }
    }
    text += '"';
    Field(name, text.c_str());
  }
  void Enum(const char* name, uint32_t, uint32_t, const char* symbol) override {
    std::string text = "\"";
    text.append(symbol).append("\"");
    Field(name, text.c_str());
  }
  void PackedInts(const char* name, uint32_t, const std::vector<int32_t>& values) override {
    std::string text = "[";
    for (size_t i = 0; i < values.size(); ++i) {
      if (i != 0) text += ',';
      text += std::to_string(values[i]);
    }
    text += ']';
    Field(name, text.c_str());
  }
  void BeginMessage(const char* name, uint32_t) override {
    Key(name);
    out_ += '{';
    first_.push_back(true);
    in_list_.push_back(false);
  }
  void EndMessage() override {
    out_ += '}';
    first_.pop_back();
    in_list_.pop_back();
  }
  void BeginList(const char* name) override {
    Key(name);
    out_ += '[';
    first_.push_back(true);
    in_list_.push_back(true);
  }
  void EndList() override {
    out_ += ']';
    first_.pop_back();
    in_list_.pop_back();
  }

 private:
  // The separator and, outside a list, the quoted key.
  void Key(const char* name) {
    if (!first_.empty()) {
      if (!first_.back()) out_ += in_list_.back() ? ",\n" : ",";
      first_.back() = false;
    }
    if (!in_list_.empty() && !in_list_.back()) out_.append("\"").append(name).append("\":");
  }
  void Field(const char* name, const char* value) {
    Key(name);
    out_.append(value);
  }

  std::string& out_;
  std::vector<bool> first_;
  std::vector<bool> in_list_;
};

// ---- the .bin objects -----------------------------------------------------------------------

const uint32_t kObjectClass = NameHash("cWorkloadObject");
const uint32_t kSettingsClass = NameHash("cWorkloadSettings");
const uint32_t kSlotClass = NameHash("cWorkloadSlot");
const uint32_t kWeaponType = NameHash("cWeaponType");
const uint32_t kUpgradeableFlags = NameHash("cUpgradeableFlags");

// Files carry a record without fields for each enumeration and flag-set type their fields use.
bool AddClasses(TypeRegistry& registry) {
  using Q = QuantizationMode;
  return AddBenchClass(registry, "cWeaponType", {}) &&
         AddBenchClass(registry, "cUpgradeableFlags", {}) &&
         AddBenchClass(registry, "cWorkloadSettings",
                       {{"Count", kCIntHash, 0, Q::None},
                        {"Scale", kCFloatHash, 0, Q::None},
                        {"Label", kCStringHash, 0, Q::None}}) &&
         AddBenchClass(registry, "cWorkloadSlot",
                       {{"Kind", kCStringHashHash, 0, Q::None},
                        {"Amount", kCShortHash, 0, Q::None},
                        {"Condition", kCFloatHash, 0, Q::None}}) &&
         AddBenchClass(registry, "cWorkloadObject",
                       {{"Health", kCIntHash, 0, Q::None},
                        {"Score", kCIntHash, 0, Q::DynValInt},
                        {"Speed", kCFloatHash, 0, Q::None},
                        {"Ratio", kCFloatHash, 0, Q::Float, kRatioQuantization},
                        {"Position", kCVector3Hash, 0, Q::None},
                        {"Location", kCVector3Hash, 0, Q::Pos},
                        {"Scale", kCVector3Hash, 0, Q::Scale},
                        {"Rotation", kCQuatHash, 0, Q::Quat},
                        {"Enabled", kCBoolHash, 0, Q::None},
                        {"Name", kCStringHash, 0, Q::None},
                        {"Comment", kCStringHash, 0, Q::None},
                        {"Target", kCPointerHash, 0, Q::None},
                        {"Owner", kCPointerHash, 0, Q::None},
                        {"Template", kCHashHash, 0, Q::None},
                        {"Sound", kCStringHashHash, 0, Q::None},
                        {"Counts", kCIntHash, -1, Q::None},
                        {"Settings", kSettingsClass, 0, Q::None},
                        {"Layer", kCByteHash, 0, Q::None},
                        {"Priority", kCShortHash, 0, Q::None},
                        {"Weapon", kWeaponType, 0, Q::None},
                        {"Upgrades", kUpgradeableFlags, 0, Q::None},
                        {"Slots", kSlotClass, -1, Q::None}});
}

ValueNode* Child(ValueNode& parent, const char* name, uint32_t type, bool array = false,
                 uint32_t storage = 0) {
  ValueNode* child = AppendChildValue(parent, NameHash(name), type, array, storage);
  if (child == nullptr) {
    std::fputs("Out of value nodes.\n", stderr);
    std::exit(1);
  }
  return child;
}

ValueNode* Element(ValueNode& array) {
  ValueNode* element = AppendChildValue(array, 0, array.type_hash, false, 0);
  if (element == nullptr) {
    std::fputs("Out of value nodes.\n", stderr);
    std::exit(1);
  }
  return element;
}

void SetFloats(ValueNode& node, std::initializer_list<float> values) {
  int i = 0;
  for (float value : values) node.payload.floats[i++] = value;
}

ValueNode* BuildObject(const Record& r) {
  ValueNode* object = NewObjectValue(kObjectClass, r.id);
  if (object == nullptr) return nullptr;
  Child(*object, "Health", kCIntHash)->payload.int32 = r.health;
  Child(*object, "Score", kCIntHash)->payload.int32 = r.score;
  Child(*object, "Speed", kCFloatHash)->payload.floats[0] = r.speed;
  Child(*object, "Ratio", kCFloatHash)->payload.floats[0] = r.ratio;
  SetFloats(*Child(*object, "Position", kCVector3Hash), {r.position.x, r.position.y, r.position.z});
  SetFloats(*Child(*object, "Location", kCVector3Hash), {r.location.x, r.location.y, r.location.z});
  SetFloats(*Child(*object, "Scale", kCVector3Hash), {r.scale.x, r.scale.y, r.scale.z});
  SetFloats(*Child(*object, "Rotation", kCQuatHash),
            {r.rotation.x, r.rotation.y, r.rotation.z, r.rotation.w});
  Child(*object, "Enabled", kCBoolHash)->payload.boolean = r.enabled ? 1 : 0;
  Child(*object, "Name", kCStringHash)->payload.text.AssignText(r.name.c_str());
  Child(*object, "Comment", kCStringHash)->payload.text.AssignText(r.comment.c_str());
  Child(*object, "Target", kCPointerHash)->payload.word = r.target;
  Child(*object, "Owner", kCPointerHash)->payload.word = r.owner;
  Child(*object, "Template", kCHashHash)->payload.word = r.template_hash;
  Child(*object, "Sound", kCStringHashHash)->payload.word = r.sound;
  ValueNode* counts = Child(*object, "Counts", kCIntHash, true);
  for (int32_t value : r.counts) Element(*counts)->payload.int32 = value;
  ValueNode* settings = Child(*object, "Settings", kSettingsClass);
  Child(*settings, "Count", kCIntHash)->payload.int32 = r.settings.count;
  Child(*settings, "Scale", kCFloatHash)->payload.floats[0] = r.settings.scale;
  Child(*settings, "Label", kCStringHash)->payload.text.AssignText(r.settings.label.c_str());
  Child(*object, "Layer", kCByteHash)->payload.byte = r.layer;
  Child(*object, "Priority", kCShortHash)->payload.int16 = r.priority;
  Child(*object, "Weapon", kWeaponType, false, kCHashHash)->payload.word = r.weapon;
  Child(*object, "Upgrades", kUpgradeableFlags, false, kCHashHash)->payload.word = r.upgrades;
  ValueNode* slots = Child(*object, "Slots", kSlotClass, true);
  for (const Slot& slot : r.slots) {
    ValueNode* element = Element(*slots);
    Child(*element, "Kind", kCStringHashHash)->payload.word = slot.kind;
    Child(*element, "Amount", kCShortHash)->payload.int16 = slot.amount;
    Child(*element, "Condition", kCFloatHash)->payload.floats[0] = slot.condition;
  }
  return object;
}

// The type records a .bin file holds are those genbin writes back for its document: every
// class, enumeration and flag-set type in the order the document first uses it (the order
// decides between types whose hashes share a bucket). An empty array uses no type.
bool ReferenceTypes(const Record& r, ReferencedTypeSet& types) {
  for (uint32_t type : {kObjectClass, kSettingsClass, kWeaponType, kUpgradeableFlags}) {
    if (types.FindOrInsert(type) == nullptr) return false;
  }
  return r.slots.empty() || types.FindOrInsert(kSlotClass) != nullptr;
}

bool WriteText(const std::string& path, const std::string& text) {
  if (WriteWholeBytes(path.c_str(), text.data(), text.size())) return true;
  std::fprintf(stderr, "Cannot write %s.\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fputs("usage: qvx_workload <output folder> <object count> [seed]\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  const unsigned long long count_arg = std::strtoull(argv[2], nullptr, 10);
  if (count_arg == 0 || count_arg > 10000000) {
    std::fputs("The object count must be 1 to 10000000.\n", stderr);
    return 2;
  }
  const auto count = static_cast<uint32_t>(count_arg);
  const uint64_t seed = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : kDefaultSeed;

  std::error_code error;
  std::filesystem::create_directories(folder + "/game", error);
  if (error) {
    std::fprintf(stderr, "Cannot create %s/game.\n", folder.c_str());
    return 1;
  }

  TypeRegistry registry;
  CoreTypeTable core_types;
  if (!BuildCoreTypeTable(core_types) || !AddClasses(registry)) {
    std::fputs("Cannot set up the class types.\n", stderr);
    return 1;
  }

  std::string proto_text;
  std::string json;
  ProtoWireSink wire;
  ProtoTextSink text(proto_text);
  JsonSink json_sink(json);
  json_sink.BeginList("objects");
  OwnedObjectList objects;
  ReferencedTypeSet types;
  RecordMaker maker(count, seed);
  Record record;
  for (uint32_t i = 0; i < count; ++i) {
    maker.Make(i, record);
    VisitObject(wire, record);
    VisitObject(text, record);
    VisitObject(json_sink, record);
    ValueNode* object = BuildObject(record);
    if (object == nullptr || !objects.Append(object) || !ReferenceTypes(record, types)) {
      std::fputs("Out of value nodes.\n", stderr);
      return 1;
    }
  }
  json_sink.EndList();
  json_sink.Finish();

  ByteBuffer file(kGranuleBytes);
  if (WriteBinFile(registry, types, core_types, objects, file) != BinWriteResult::kOk) {
    std::fputs("Encoding the .bin file failed.\n", stderr);
    return 1;
  }
  const std::string bin_path = folder + "/game/workload.bin";
  if (!WriteWholeFile(bin_path.c_str(), file)) {
    std::fprintf(stderr, "Cannot write %s.\n", bin_path.c_str());
    return 1;
  }
  if (!WriteText(folder + "/workload.proto", kProtoSchema) ||
      !WriteText(folder + "/workload.pb", wire.bytes()) ||
      !WriteText(folder + "/workload.pbtxt", proto_text) ||
      !WriteText(folder + "/workload.fbs", kFlatBuffersSchema) ||
      !WriteText(folder + "/workload.json", json)) {
    return 1;
  }
  std::printf("objects %u  seed %llu\n", count, static_cast<unsigned long long>(seed));
  std::printf("game/workload.bin  %10u bytes\n", file.size);
  std::printf("workload.pb        %10zu bytes\n", wire.bytes().size());
  std::printf("workload.pbtxt     %10zu bytes\n", proto_text.size());
  std::printf("workload.json      %10zu bytes\n", json.size());
  return 0;
}
