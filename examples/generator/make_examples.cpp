// examples/generator/make_examples.cpp - writes the example game folder and its name dictionaries.
//
// Usage: make_examples <output folder>
//
// Writes, under the output folder:
//
//   game/levels/harbor/harbor_props.bin      props and a lamp, linked to each other
//   game/levels/harbor/harbor_patrols.bin    patrol routes and spawners, pointing at the guards
//   game/levels/sandbox/empty.bin            a file with no types and no objects
//   game/characters/guards.bin               guards, their constant data and a key item
//   game/characters/weapons/Weapons.BIN      weapon data (upper-case extension on purpose)
//   Hash.txt, qvxmain_ids.cvs, qvxmain_en.cvs   the names and texts the files use
//
// The files are built with the project's own value trees and .bin writer, from one mini schema
// (every class has one definition, so the type library of the game folder reproduces each
// file's class records), and each file carries exactly the class records that converting its
// text document back would write: those of the classes, enumerations and flag sets its objects
// use, in the order of a ReferencedTypeSet filled in document order. Every file is read back and
// written again before it is saved; a file that does not reproduce itself bit for bit (a
// quantized value that moves, a missing class record) stops the generator. cSpotLightDef and
// cUpgradeableFlags share the low 8 bits of their hashes, so harbor_props.bin also fixes the
// order of two records in one bucket: the order in which the document mentions them.
//
// The output is the same bytes on every run. Exit status 0 on success, 1 when something could
// not be built or written (with a message on stderr), 2 for a missing argument.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/name_hash.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/type_stream.h"

namespace {

// ---- schema ---------------------------------------------------------------------------------

struct FieldShape {
  const char* name;
  const char* type;
  int32_t array_size;  // 0 one value, n > 0 fixed size, -1 variable
  QuantizationMode mode;
  IntQuantization int_q;
  FloatQuantization float_q;
};

struct ClassShape {
  const char* name;
  uint32_t extra_word;
  std::span<const FieldShape> fields;
};

constexpr QuantizationMode kNone = QuantizationMode::None;
constexpr QuantizationMode kInt = QuantizationMode::Int;
constexpr QuantizationMode kFloat = QuantizationMode::Float;
constexpr QuantizationMode kDynValInt = QuantizationMode::DynValInt;
constexpr QuantizationMode kPos = QuantizationMode::Pos;
constexpr QuantizationMode kScale = QuantizationMode::Scale;
constexpr QuantizationMode kScale2 = QuantizationMode::Scale2;
constexpr QuantizationMode kQuat = QuantizationMode::Quat;

// clang-format off
constexpr FieldShape kGameObjectStateFields[] = {
    {"Name",           "cString",        0, kNone,  {}, {}},
    {"ComponentTypes", "cInt",          -1, kNone,  {}, {}},
    {"Position",       "cVector3",       0, kPos,   {}, {}},
    {"Rotation",       "cQuat",          0, kQuat,  {}, {}},
    {"Scale",          "cVector3",       0, kScale, {}, {}},
    {"Parent",         "cPointer",       0, kNone,  {}, {}},
    {"Template",       "cStringHash",    0, kNone,  {}, {}},
    {"DisplayName",    "cTextID",        0, kNone,  {}, {}},
    {"Health",         "cHealthState",   0, kNone,  {}, {}},
    {"Inventory",      "cInventorySlot",-1, kNone,  {}, {}},
    {"Tags",           "cHash",         -1, kNone,  {}, {}},
    {"Visible",        "cBool",          0, kNone,  {}, {}},
};

constexpr FieldShape kHealthStateFields[] = {
    {"MaxHealth",    "cInt",              0, kInt,   {0, 10000, 5}, {}},
    {"Regeneration", "cFloat",            0, kFloat, {}, {0.0f, 50.0f, 0.25f, 0}},
    {"DamageTaken",  "cDamageAmount",     0, kNone,  {}, {}},
    {"Upgrades",     "cUpgradeableFlags", 0, kNone,  {}, {}},
};

constexpr FieldShape kInventorySlotFields[] = {
    {"Item",   "cPointer",    0, kNone,      {}, {}},
    {"Count",  "cInt",        0, kDynValInt, {}, {}},
    {"Weapon", "cWeaponType", 0, kNone,      {}, {}},
};

constexpr FieldShape kSpotLightDefFields[] = {
    {"Color",      "cColor",                  0, kNone,   {}, {}},
    {"Intensity",  "cFloat",                  0, kNone,   {}, {}},
    {"Radius",     "cFloat",                  0, kFloat,  {}, {0.0f, 64.0f, 0.125f, 0}},
    {"Heading",    "cAngle",                  0, kNone,   {}, {}},
    {"ConeAngles", "cVector2",                0, kNone,   {}, {}},
    {"Bounds",     "cAxisAlignedBoundingBox", 0, kNone,   {}, {}},
    {"Flicker",    "cVector4",                0, kNone,   {}, {}},
    {"Shape",      "cVector3",                0, kScale2, {}, {}},
    {"Owner",      "cPointer",                0, kNone,   {}, {}},
    {"Enabled",    "cBool",                   0, kNone,   {}, {}},
};

constexpr FieldShape kPatrolRouteFields[] = {
    {"Waypoints",  "cVector3",                  -1, kPos,  {}, {}},
    {"Loop",       "cBool",                      0, kNone, {}, {}},
    {"WaitTimes",  "cFloat",                    -1, kNone, {}, {}},
    {"AlertLevel", "cByte",                      0, kInt,  {-3, 3, 1}, {}},
    {"Guards",     "cPointer",                  -1, kNone, {}, {}},
    {"Controller", "cControllerState",           0, kNone, {}, {}},
    {"Warp",       "cWarpMotionByLocatorFlags",  0, kNone, {}, {}},
    {"Area",       "cAxisAlignedBoundingBox",    0, kNone, {}, {}},
    {"Tint",       "cColor",                     0, kNone, {}, {}},
};

constexpr FieldShape kSpawnerStateFields[] = {
    {"Spawns",   "cSpawnEntry",            -1, kNone,      {}, {}},
    {"MaxAlive", "cInt",                    0, kDynValInt, {}, {}},
    {"Cooldown", "cLockerCooldown",         0, kNone,      {}, {}},
    {"Mission",  "cFSMissionSuccessState",  0, kNone,      {}, {}},
    {"Vehicle",  "cVehicleCategory",        0, kNone,      {}, {}},
    {"Route",    "cPointer",                0, kNone,      {}, {}},
};

constexpr FieldShape kSpawnEntryFields[] = {
    {"Archetype", "cStringHash", 0, kNone,  {}, {}},
    {"Weight",    "cFloat",      0, kFloat, {}, {0.0f, 1.0f, 0.01f, 0}},
    {"Offset",    "cVector3",    0, kPos,   {}, {}},
};

constexpr FieldShape kGameObjectConstDataFields[] = {
    {"ExtensionTypes", "cInt",          -1, kNone, {}, {}},
    {"Mass",           "cFloat",         0, kNone, {}, {}},
    {"Archetype",      "cStringHash",    0, kNone, {}, {}},
    {"Faction",        "cBeaconFaction", 0, kNone, {}, {}},
};

constexpr FieldShape kWeaponDataFields[] = {
    {"Name",          "cString",        0, kNone, {}, {}},
    {"Type",          "cWeaponType",    0, kNone, {}, {}},
    {"Damage",        "cDamageAmount",  0, kNone, {}, {}},
    {"Range",         "cFloat",         0, kFloat, {}, {0.0f, 200.0f, 0.5f, 0}},
    {"ClipSize",      "cShort",         0, kInt,  {1, 250, 1}, {}},
    {"RecoilPattern", "cVector2",       4, kNone, {}, {}},
    {"MuzzleOffset",  "cVector3",       0, kNone, {}, {}},
    {"Sounds",        "cHash",         -1, kNone, {}, {}},
    {"Description",   "cTextID",        0, kNone, {}, {}},
    {"Icon",          "cHash",          0, kNone, {}, {}},
};

constexpr ClassShape kClasses[] = {
    {"cGameObjectState",     2, kGameObjectStateFields},
    {"cHealthState",         1, kHealthStateFields},
    {"cInventorySlot",       1, kInventorySlotFields},
    {"cSpotLightDef",        1, kSpotLightDefFields},
    {"cPatrolRoute",         1, kPatrolRouteFields},
    {"cSpawnerState",        1, kSpawnerStateFields},
    {"cSpawnEntry",          1, kSpawnEntryFields},
    {"cGameObjectConstData", 2, kGameObjectConstDataFields},
    {"cWeaponData",          1, kWeaponDataFields},
};
// clang-format on

// Files carry a record without fields for each enumeration and flag-set type their fields use.
constexpr const char* kValueTypeRecords[] = {
    "cControllerState",          "cDamageAmount",     "cFSMissionSuccessState",
    "cLockerCooldown",           "cUpgradeableFlags", "cWeaponType",
    "cWarpMotionByLocatorFlags", "cVehicleCategory",  "cBeaconFaction",
};

bool AddClass(TypeRegistry& registry, const char* name, uint32_t extra_word,
              std::span<const FieldShape> fields) {
  ClassTypePtr class_type = MakeClassType();
  if (class_type == nullptr) {
    return false;
  }
  class_type->name.Assign(name);
  class_type->name_hash = NameHash(name);
  class_type->extra_word = extra_word;
  if (!fields.empty() && !class_type->AllocateFields(static_cast<uint32_t>(fields.size()))) {
    return false;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    FieldInfo& field = class_type->fields[i];
    field.name.Assign(fields[i].name);
    field.name_hash = NameHash(fields[i].name);
    field.type_hash = NameHash(fields[i].type);
    field.quantization_mode = static_cast<uint32_t>(fields[i].mode);
    field.int_quantization = fields[i].int_q;
    field.float_quantization = fields[i].float_q;
    field.array_size = fields[i].array_size;
  }
  return registry.Add(std::move(class_type)) != nullptr;
}

// The schema as the tool holds it after loading: list fields already switched to cStringHash.
bool BuildSchema(TypeRegistry& registry) {
  for (const ClassShape& shape : kClasses) {
    if (!AddClass(registry, shape.name, shape.extra_word, shape.fields)) {
      return false;
    }
  }
  for (const char* name : kValueTypeRecords) {
    if (!AddClass(registry, name, 0, {})) {
      return false;
    }
  }
  TypePatch(registry, TypePatchDirection::kToStringHash);
  return true;
}

// ---- object values --------------------------------------------------------------------------

// Builds objects field by field, checking each value against the schema. The first mistake is
// kept in `error` and makes every later call do nothing, so a file is checked once at its end.
class ObjectBuilder {
 public:
  ObjectBuilder(const TypeRegistry& registry, const CoreTypeTable& core_types,
                ValueObjectList& objects)
      : registry_(registry), core_types_(core_types), objects_(objects) {}

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  /// A new top-level object of the named class, appended to the list.
  ValueNode* Object(const char* class_name, uint32_t object_id) {
    if (!ok()) return nullptr;
    if (registry_.Find(NameHash(class_name)) == nullptr) {
      return Fail(std::string("unknown class ") + class_name);
    }
    ValueNode* object = NewObjectValue(NameHash(class_name), object_id);
    if (!objects_.Append(object)) {
      ReleaseObject(object);
      return Fail("no value node for an object");
    }
    return object;
  }

  /// The value of field `field_name` of the compound `parent`: an empty array, an empty
  /// compound or a primitive holding its initial payload.
  ValueNode* Field(ValueNode* parent, const char* field_name) {
    if (!ok() || parent == nullptr) return nullptr;
    const ClassType* class_type =
        parent->IsCompound() ? registry_.Find(parent->type_hash) : nullptr;
    if (class_type == nullptr) {
      return Fail(std::string("field ") + field_name + " of a value that is no class");
    }
    const uint32_t name_hash = NameHash(field_name);
    for (uint32_t i = 0; i < class_type->field_count; ++i) {
      const FieldInfo& field = class_type->fields[i];
      if (field.name_hash == name_hash) {
        return Child(*parent, name_hash, field.type_hash, field.IsArray());
      }
    }
    return Fail(std::string("no field ") + class_type->name.data + "::" + field_name);
  }

  /// A new element at the end of the array `array`.
  ValueNode* Element(ValueNode* array) {
    if (!ok() || array == nullptr) return nullptr;
    if (!array->IsArray()) {
      return Fail("element of a value that is no array");
    }
    return Child(*array, 0, array->type_hash, false);
  }

  void Int(ValueNode* parent, const char* field_name, int32_t value) {
    SetInt(Field(parent, field_name), value);
  }
  void Float(ValueNode* parent, const char* field_name, float value) {
    SetFloats(Field(parent, field_name), {value});
  }
  void Floats(ValueNode* parent, const char* field_name, std::initializer_list<float> values) {
    SetFloats(Field(parent, field_name), values);
  }
  /// Hashes, text IDs, pointers, enumerations and flag sets.
  void Word(ValueNode* parent, const char* field_name, uint32_t value) {
    SetWord(Field(parent, field_name), value);
  }
  void Bool(ValueNode* parent, const char* field_name, bool value) {
    ValueNode* node = Field(parent, field_name);
    if (Expect(node, kCBoolHash)) node->payload.boolean = value ? 1 : 0;
  }
  void Text(ValueNode* parent, const char* field_name, const char* text) {
    ValueNode* node = Field(parent, field_name);
    if (Expect(node, kCStringHash)) node->payload.text.AssignText(text);
  }

  /// An array field holding one word per value (hashes, pointers, list entries).
  void Words(ValueNode* parent, const char* field_name, std::initializer_list<uint32_t> values) {
    ValueNode* array = Field(parent, field_name);
    for (uint32_t value : values) {
      SetWord(Element(array), value);
    }
  }
  /// An array field of vectors or floats, one braced list per element.
  void FloatArray(ValueNode* parent, const char* field_name,
                  std::initializer_list<std::initializer_list<float>> elements) {
    ValueNode* array = Field(parent, field_name);
    for (std::initializer_list<float> element : elements) {
      SetFloats(Element(array), element);
    }
  }

 private:
  ValueNode* Fail(const std::string& message) {
    if (error_.empty()) error_ = message;
    return nullptr;
  }

  ValueNode* Child(ValueNode& parent, uint32_t name, uint32_t type_hash, bool as_array) {
    uint32_t storage_override = 0;
    if (!as_array) {
      const CCoreType* core = FindCoreType(core_types_, type_hash);
      if (core == nullptr && registry_.Find(type_hash) == nullptr) {
        return Fail("a field type that is neither a core type nor a class");
      }
      if (core != nullptr) storage_override = core->StorageTypeHash();
    }
    ValueNode* child = AppendChildValue(parent, name, type_hash, as_array, storage_override);
    return child != nullptr ? child : Fail("no value node for a field");
  }

  bool Expect(const ValueNode* node, uint32_t storage) {
    if (node == nullptr) return false;
    if (node->kind != storage) {
      Fail("a value of another storage form");
      return false;
    }
    return true;
  }

  void SetInt(ValueNode* node, int32_t value) {
    if (node == nullptr) return;
    switch (node->kind) {
      case kCIntHash:
        node->payload.int32 = value;
        return;
      case kCShortHash:
        node->payload.int16 = static_cast<int16_t>(value);
        return;
      case kCByteHash:
        node->payload.byte = static_cast<int8_t>(value);
        return;
      default:
        Fail("an integer for a value that holds none");
    }
  }

  void SetFloats(ValueNode* node, std::initializer_list<float> values) {
    if (node == nullptr) return;
    size_t expected = 0;
    switch (node->kind) {
      case kCFloatHash:
        expected = 1;
        break;
      case kCVector2Hash:
        expected = 2;
        break;
      case kCVector3Hash:
        expected = 3;
        break;
      case kCVector4Hash:
        expected = 4;
        break;
      case kCAxisAlignedBoundingBoxHash:
        expected = 6;
        break;
      default:
        break;
    }
    if (expected == 0 || values.size() != expected) {
      Fail("a float count that does not fit the value");
      return;
    }
    std::copy(values.begin(), values.end(), node->payload.floats);
  }

  void SetWord(ValueNode* node, uint32_t value) {
    if (Expect(node, kCHashHash)) node->payload.word = value;
  }

  const TypeRegistry& registry_;
  const CoreTypeTable& core_types_;
  ValueObjectList& objects_;
  std::string error_;
};

constexpr uint32_t Id(const char* name) { return NameHash(name); }

// Enumeration values the tool names.
constexpr uint32_t kWeaponTypeGun = 0;
constexpr uint32_t kWeaponTypeNotGun = 1;
constexpr uint32_t kWeaponTypeAny = 2;
constexpr uint32_t kDamageNone = 0;
constexpr uint32_t kDamageLight = 25;
constexpr uint32_t kDamageMedium = 50;
constexpr uint32_t kDamageHeavy = 75;
constexpr uint32_t kDamageInstantKill = 999999;
constexpr uint32_t kUpgradeableDeathExplosion = 1;
constexpr uint32_t kUpgradeableSuction = 2;
constexpr uint32_t kStateAllGameplay = 81;
constexpr uint32_t kLockerCooldownNormal = 60;
constexpr uint32_t kSuccessAny = static_cast<uint32_t>(-1);
constexpr uint32_t kSuccessSucceeded = 1;

void AddHealth(ObjectBuilder& b, ValueNode* object, int32_t max_health, float regeneration,
               uint32_t damage, uint32_t upgrades) {
  ValueNode* health = b.Field(object, "Health");
  b.Int(health, "MaxHealth", max_health);
  b.Float(health, "Regeneration", regeneration);
  b.Word(health, "DamageTaken", damage);
  b.Word(health, "Upgrades", upgrades);
}

void AddSlot(ObjectBuilder& b, ValueNode* inventory, uint32_t item, int32_t count,
             uint32_t weapon) {
  ValueNode* slot = b.Element(inventory);
  b.Word(slot, "Item", item);
  b.Int(slot, "Count", count);
  b.Word(slot, "Weapon", weapon);
}

void FillHarborProps(ObjectBuilder& b) {
  ValueNode* crate = b.Object("cGameObjectState", Id("Crate_Wood_01"));
  b.Text(crate, "Name", "Crate \"Wood\" #1");
  b.Words(crate, "ComponentTypes",
          {Id("cRigidBodyComponent"), Id("cDamageableComponent"), Id("cHealthComponent"),
           Id("cPushableComponent"), Id("cFlammableComponent")});
  b.Floats(crate, "Position", {12.5f, 3.25f, -40.75f});
  b.Floats(crate, "Rotation", {0.0f, 0.38268343f, 0.0f, 0.92387953f});
  b.Floats(crate, "Scale", {1.0f, 1.0f, 1.0f});
  b.Word(crate, "Parent", 0);
  b.Word(crate, "Template", Id("Props/Crate_Wood"));
  b.Word(crate, "DisplayName", Id("TXT_PROP_CRATE"));
  AddHealth(b, crate, 250, 0.0f, kDamageLight, kUpgradeableDeathExplosion);
  ValueNode* crate_inventory = b.Field(crate, "Inventory");
  AddSlot(b, crate_inventory, Id("Ammo_Pistol_Box"), 24, kWeaponTypeGun);
  AddSlot(b, crate_inventory, Id("Medkit_Small"), 1, kWeaponTypeNotGun);
  b.Words(crate, "Tags", {Id("Flammable"), Id("Pushable")});
  b.Bool(crate, "Visible", true);

  ValueNode* barrel = b.Object("cGameObjectState", Id("Barrel_Red_02"));
  b.Text(barrel, "Name", "Barrel \\ red");
  b.Words(barrel, "ComponentTypes",
          {Id("cExplosiveComponent"), Id("cDamageableComponent"), 305419896});
  b.Floats(barrel, "Position", {-7.2f, 0.5f, 18.0f});
  b.Floats(barrel, "Rotation", {0.0f, 0.0f, 0.0f, 1.0f});
  b.Floats(barrel, "Scale", {1.2f, 1.5f, 1.2f});
  b.Word(barrel, "Parent", Id("Crate_Wood_01"));
  b.Word(barrel, "Template", Id("Props/Barrel_Explosive"));
  b.Word(barrel, "DisplayName", Id("TXT_PROP_BARREL"));
  AddHealth(b, barrel, 80, 0.5f, kDamageHeavy, kUpgradeableDeathExplosion | kUpgradeableSuction);
  b.Field(barrel, "Inventory");
  b.Words(barrel, "Tags", {Id("Flammable"), 4026531840u});
  b.Bool(barrel, "Visible", true);

  ValueNode* door = b.Object("cGameObjectState", Id("Door_Warehouse"));
  b.Text(door, "Name", "Lagerhaus-T\xC3\xBCr \xE2\x80\x93 Ost");
  b.Words(door, "ComponentTypes",
          {Id("cDoorComponent"), Id("cLockerComponent"), Id("cTriggerVolumeComponent")});
  b.Floats(door, "Position", {100.0f, 2.0f, 250.5f});
  b.Floats(door, "Rotation", {0.0f, 0.70710677f, 0.0f, 0.70710677f});
  b.Floats(door, "Scale", {2.5f, 4.0f, 0.3f});
  b.Word(door, "Parent", 40017);
  b.Word(door, "Template", Id("Props/Door_Metal"));
  b.Word(door, "DisplayName", Id("TXT_PROP_DOOR"));
  AddHealth(b, door, 10000, 12.75f, kDamageNone, 0);
  b.Field(door, "Inventory");
  b.Field(door, "Tags");
  b.Bool(door, "Visible", false);

  ValueNode* lamp = b.Object("cSpotLightDef", Id("Lamp_Dock_03"));
  b.Floats(lamp, "Color", {1.0f, 0.85f, 0.6f, 1.0f});
  b.Float(lamp, "Intensity", 3.5f);
  b.Float(lamp, "Radius", 18.3f);
  b.Float(lamp, "Heading", 1.5707964f);
  b.Floats(lamp, "ConeAngles", {30.0f, 45.0f});
  b.Floats(lamp, "Bounds", {-1.5f, 0.0f, -1.5f, 1.5f, 6.25f, 1.5f});
  b.Floats(lamp, "Flicker", {0.1f, 0.2f, 0.05f, 0.0f});
  b.Floats(lamp, "Shape", {1.0f, 1.0f, 3.0f});
  b.Word(lamp, "Owner", Id("Door_Warehouse"));
  b.Bool(lamp, "Enabled", true);

  ValueNode* trigger = b.Object("cGameObjectState", 1001);
  b.Text(trigger, "Name", "Dock trigger\tzone\nsecond line");
  b.Words(trigger, "ComponentTypes", {Id("cTriggerVolumeComponent")});
  b.Floats(trigger, "Position", {-1299.5f, -50.0f, 1099.99f});
  b.Floats(trigger, "Rotation", {0.5f, -0.5f, 0.5f, 0.5f});
  b.Floats(trigger, "Scale", {10.0f, 0.1f, 5.5f});
  b.Word(trigger, "Parent", Id("Lamp_Dock_03"));
  b.Word(trigger, "Template", Id("Props/Trigger_Box"));
  b.Word(trigger, "DisplayName", 0);
  AddHealth(b, trigger, 0, 50.0f, kDamageNone, 0);
  b.Field(trigger, "Inventory");
  b.Words(trigger, "Tags", {Id("Metal")});
  b.Bool(trigger, "Visible", false);
}

void FillHarborPatrols(ObjectBuilder& b) {
  ValueNode* north = b.Object("cPatrolRoute", Id("Route_Dock_North"));
  b.FloatArray(
      north, "Waypoints",
      {{12.0f, 0.5f, -38.0f}, {40.25f, 0.5f, -38.0f}, {40.25f, 1.75f, 5.5f}, {12.0f, 0.5f, 5.5f}});
  b.Bool(north, "Loop", true);
  b.FloatArray(north, "WaitTimes", {{2.0f}, {0.5f}, {10.0f}});
  b.Int(north, "AlertLevel", -2);
  b.Words(north, "Guards", {Id("Guard_Dock_01"), Id("Guard_Dock_02")});
  b.Word(north, "Controller", kStateAllGameplay);
  b.Word(north, "Warp", 5);
  b.Floats(north, "Area", {0.0f, -2.0f, -45.0f, 50.0f, 10.0f, 10.0f});
  b.Floats(north, "Tint", {0.2f, 0.4f, 1.0f, 0.5f});

  ValueNode* south = b.Object("cPatrolRoute", Id("Route_Dock_South"));
  b.Field(south, "Waypoints");
  b.Bool(south, "Loop", false);
  b.Field(south, "WaitTimes");
  b.Int(south, "AlertLevel", 3);
  b.Words(south, "Guards", {0});
  b.Word(south, "Controller", 3);
  b.Word(south, "Warp", 0);
  b.Floats(south, "Area", {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f});
  b.Floats(south, "Tint", {1.0f, 1.0f, 1.0f, 1.0f});

  ValueNode* spawner = b.Object("cSpawnerState", 2002);
  ValueNode* spawns = b.Field(spawner, "Spawns");
  ValueNode* walker = b.Element(spawns);
  b.Word(walker, "Archetype", Id("Zombie_Walker"));
  b.Float(walker, "Weight", 0.75f);
  b.Floats(walker, "Offset", {20.0f, 0.0f, -10.0f});
  ValueNode* runner = b.Element(spawns);
  b.Word(runner, "Archetype", Id("Zombie_Runner"));
  b.Float(runner, "Weight", 0.25f);
  b.Floats(runner, "Offset", {21.5f, 0.0f, -12.25f});
  b.Int(spawner, "MaxAlive", 12);
  b.Word(spawner, "Cooldown", kLockerCooldownNormal);
  b.Word(spawner, "Mission", kSuccessAny);
  b.Word(spawner, "Vehicle", static_cast<uint32_t>(-1));
  b.Word(spawner, "Route", Id("Route_Dock_North"));

  ValueNode* warehouse = b.Object("cSpawnerState", Id("Spawner_Warehouse"));
  b.Field(warehouse, "Spawns");
  b.Int(warehouse, "MaxAlive", 0);
  b.Word(warehouse, "Cooldown", 45);
  b.Word(warehouse, "Mission", kSuccessSucceeded);
  b.Word(warehouse, "Vehicle", 2);
  b.Word(warehouse, "Route", Id("Route_Dock_South"));
}

void FillEmpty(ObjectBuilder&) {}

void AddGuard(ObjectBuilder& b, const char* name, const char* display, float x, float z,
              uint32_t item) {
  ValueNode* guard = b.Object("cGameObjectState", Id(name));
  b.Text(guard, "Name", display);
  b.Words(guard, "ComponentTypes",
          {Id("cActorPhysicsComponent"), Id("cHealthComponent"), Id("cInventoryComponent"),
           Id("cCombatComponent"), Id("cGunComponent")});
  b.Floats(guard, "Position", {x, 0.5f, z});
  b.Floats(guard, "Rotation", {0.0f, 1.0f, 0.0f, 0.0f});
  b.Floats(guard, "Scale", {1.0f, 1.0f, 1.0f});
  b.Word(guard, "Parent", Id("Guard_Const"));
  b.Word(guard, "Template", Id("Archetype_Guard"));
  b.Word(guard, "DisplayName", Id("TXT_GUARD_NAME"));
  AddHealth(b, guard, 100, 1.25f, kDamageMedium, 0);
  ValueNode* inventory = b.Field(guard, "Inventory");
  AddSlot(b, inventory, Id("Pistol_M9"), 1, kWeaponTypeGun);
  AddSlot(b, inventory, item, 1, kWeaponTypeAny);
  b.Field(guard, "Tags");
  b.Bool(guard, "Visible", true);
}

void FillGuards(ObjectBuilder& b) {
  ValueNode* constants = b.Object("cGameObjectConstData", Id("Guard_Const"));
  b.Words(constants, "ExtensionTypes",
          {Id("cCombatComponent"), Id("cPerceptionComponent"), Id("cNPCVisualSensorComponent")});
  b.Float(constants, "Mass", 82.5f);
  b.Word(constants, "Archetype", Id("Archetype_Guard"));
  b.Word(constants, "Faction", 0x0105);

  AddGuard(b, "Guard_Dock_01", "Guard Pete", 14.0f, -36.5f, Id("Knife_Combat"));
  AddGuard(b, "Guard_Dock_02", "Guard \"Big\" Sam", 38.0f, 4.0f, Id("Captain's Log"));

  ValueNode* log = b.Object("cGameObjectState", Id("Captain's Log"));
  b.Text(log, "Name", "Captain's log \xE2\x9A\x93");
  b.Words(log, "ComponentTypes", {Id("cKeyItemComponent"), Id("cInventoriedComponent")});
  b.Floats(log, "Position", {38.0f, 1.0f, 4.0f});
  b.Floats(log, "Rotation", {0.0f, 0.0f, 0.0f, 1.0f});
  b.Floats(log, "Scale", {0.5f, 0.5f, 0.5f});
  b.Word(log, "Parent", Id("Guard_Dock_02"));
  b.Word(log, "Template", Id("Props/Book"));
  b.Word(log, "DisplayName", Id("TXT_CAPTAINS_LOG"));
  AddHealth(b, log, 5, 0.0f, kDamageInstantKill, kUpgradeableSuction);
  b.Field(log, "Inventory");
  b.Words(log, "Tags", {Id("Metal"), Id("ui\\icons\\book.dds")});
  b.Bool(log, "Visible", true);
}

void FillWeapons(ObjectBuilder& b) {
  ValueNode* pistol = b.Object("cWeaponData", Id("Pistol_M9"));
  b.Text(pistol, "Name", "M9 \"Beretta\"");
  b.Word(pistol, "Type", kWeaponTypeGun);
  b.Word(pistol, "Damage", kDamageMedium);
  b.Float(pistol, "Range", 45.5f);
  b.Int(pistol, "ClipSize", 15);
  b.FloatArray(pistol, "RecoilPattern",
               {{0.0f, 1.5f}, {0.25f, 1.25f}, {-0.25f, 1.0f}, {0.125f, 0.75f}});
  b.Floats(pistol, "MuzzleOffset", {0.0f, 0.12f, 0.3f});
  b.Words(pistol, "Sounds", {Id("sfx_pistol_fire"), Id("sfx_pistol_reload")});
  b.Word(pistol, "Description", Id("TXT_WEAPON_PISTOL_DESC"));
  b.Word(pistol, "Icon", Id("ui\\icons\\pistol.dds"));

  ValueNode* knife = b.Object("cWeaponData", Id("Knife_Combat"));
  b.Text(knife, "Name", "Combat knife");
  b.Word(knife, "Type", kWeaponTypeNotGun);
  b.Word(knife, "Damage", 30);
  b.Float(knife, "Range", 1.5f);
  b.Int(knife, "ClipSize", 1);
  b.FloatArray(knife, "RecoilPattern", {{0.0f, 0.0f}, {0.0f, 0.0f}, {0.0f, 0.0f}, {0.0f, 0.0f}});
  b.Floats(knife, "MuzzleOffset", {0.0f, 0.0f, 0.45f});
  b.Words(knife, "Sounds", {Id("sfx_knife_swing")});
  b.Word(knife, "Description", Id("TXT_WEAPON_KNIFE_DESC"));
  b.Word(knife, "Icon", Id("ui\\icons\\knife.dds"));

  ValueNode* prototype = b.Object("cWeaponData", 3003);
  b.Text(prototype, "Name", "");
  b.Word(prototype, "Type", 3);
  b.Word(prototype, "Damage", kDamageInstantKill);
  b.Float(prototype, "Range", 200.0f);
  b.Int(prototype, "ClipSize", 250);
  b.FloatArray(prototype, "RecoilPattern", {{1.0f, 2.0f}});
  b.Floats(prototype, "MuzzleOffset", {-0.5f, 1e-3f, 123456.79f});
  b.Field(prototype, "Sounds");
  b.Word(prototype, "Description", Id("TXT_WEAPON_PROTOTYPE"));
  b.Word(prototype, "Icon", 0);
}

struct ExampleFile {
  const char* path;  // below the output folder
  void (*fill)(ObjectBuilder&);
};

constexpr ExampleFile kExampleFiles[] = {
    {"game/levels/harbor/harbor_props.bin", FillHarborProps},
    {"game/levels/harbor/harbor_patrols.bin", FillHarborPatrols},
    {"game/levels/sandbox/empty.bin", FillEmpty},
    {"game/characters/guards.bin", FillGuards},
    {"game/characters/weapons/Weapons.BIN", FillWeapons},
};

// ---- writing the files ----------------------------------------------------------------------

// Enters the types a document parser would enter while reading the body of `value`: the class
// of every nested class value, and the type of every field or non-empty array whose type is not
// a built-in value type (classes of array elements, enumerations, flag sets), in text order.
bool CollectBodyTypes(const ValueNode& value, const ClassType& class_type,
                      const TypeRegistry& registry, const CoreTypeTable& core_types,
                      ReferencedTypeSet& types, uint32_t depth) {
  if (depth >= kMaxNestingDepth) {
    return false;
  }
  for (uint32_t i = 0; i < class_type.field_count; ++i) {
    const FieldInfo& field = class_type.fields[i];
    const ValueNode* child = FindChildValue(value, field.name_hash);
    if (child == nullptr) {
      return false;
    }
    const bool is_core = FindCoreType(core_types, field.type_hash) != nullptr;
    if (field.IsArray() && child->payload.children.count == 0) {
      continue;
    }
    if (!IsCoreTypeHash(field.type_hash) && types.FindOrInsert(field.type_hash) == nullptr) {
      return false;
    }
    if (is_core) {
      continue;
    }
    const ClassType* nested = registry.Find(field.type_hash);
    if (nested == nullptr) {
      return false;
    }
    if (!field.IsArray()) {
      if (!CollectBodyTypes(*child, *nested, registry, core_types, types, depth + 1)) {
        return false;
      }
      continue;
    }
    for (const ValueNode* element = child->payload.children.first; element != nullptr;
         element = element->next) {
      if (!CollectBodyTypes(*element, *nested, registry, core_types, types, depth + 1)) {
        return false;
      }
    }
  }
  return true;
}

bool CollectReferencedTypes(const ValueObjectList& objects, const TypeRegistry& registry,
                            const CoreTypeTable& core_types, ReferencedTypeSet& types) {
  for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
    const ClassType* class_type = registry.Find(object->type_hash);
    if (class_type == nullptr || types.FindOrInsert(object->type_hash) == nullptr ||
        !CollectBodyTypes(*object, *class_type, registry, core_types, types, 0)) {
      return false;
    }
  }
  return true;
}

bool EncodeFile(TypeRegistry& registry, const CoreTypeTable& core_types,
                const ValueObjectList& objects, ByteBuffer& out) {
  ReferencedTypeSet types;
  return CollectReferencedTypes(objects, registry, core_types, types) &&
         WriteBinFile(registry, types, core_types, objects, out) == BinWriteResult::kOk;
}

// Loads `bytes` the way the tool does and writes the objects again from what it read alone.
bool ReproducesItself(const ByteBuffer& bytes, const CoreTypeTable& core_types,
                      uint32_t expected_objects) {
  TypeRegistry registry;
  OwnedObjectList objects;
  ObjectIdTable ids;
  if (LoadBinFile(bytes.data, bytes.size, registry, core_types, objects, ids) !=
          BinLoadResult::kOk ||
      objects.count != expected_objects) {
    return false;
  }
  ByteBuffer again;
  return EncodeFile(registry, core_types, objects, again) && again.size == bytes.size &&
         std::memcmp(again.data, bytes.data, bytes.size) == 0;
}

bool PrepareFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  return !error;
}

bool WriteExampleFile(const std::string& root, const ExampleFile& file, TypeRegistry& registry,
                      const CoreTypeTable& core_types) {
  const std::string path = root + "/" + file.path;
  OwnedObjectList objects;
  ObjectBuilder builder(registry, core_types, objects);
  file.fill(builder);
  if (!builder.ok()) {
    std::fprintf(stderr, "%s: %s\n", file.path, builder.error().c_str());
    return false;
  }
  ByteBuffer bytes;
  if (!EncodeFile(registry, core_types, objects, bytes)) {
    std::fprintf(stderr, "%s: the objects do not fit their classes\n", file.path);
    return false;
  }
  if (!ReproducesItself(bytes, core_types, objects.count)) {
    std::fprintf(stderr, "%s: does not read back to the same bytes\n", file.path);
    return false;
  }
  if (!PrepareFolder(path) || !WriteWholeFile(path.c_str(), bytes)) {
    std::fprintf(stderr, "Failed to write \"%s\".\n", path.c_str());
    return false;
  }
  std::printf("%s: %u objects, %u bytes\n", file.path, objects.count, bytes.size);
  return true;
}

// ---- dictionaries ---------------------------------------------------------------------------

// Names of the objects, hashes and references above (component class names are built into
// the tool). 40017, 305419896, 4026531840 and the numbered objects stay unnamed on purpose.
constexpr const char* kHashNames[] = {
    "Crate_Wood_01",
    "Barrel_Red_02",
    "Door_Warehouse",
    "Lamp_Dock_03",
    "Route_Dock_North",
    "Route_Dock_South",
    "Spawner_Warehouse",
    "Guard_Const",
    "Guard_Dock_01",
    "Guard_Dock_02",
    "Captain's Log",
    "Pistol_M9",
    "Knife_Combat",
    "Ammo_Pistol_Box",
    "Medkit_Small",
    "Props/Crate_Wood",
    "Props/Barrel_Explosive",
    "Props/Door_Metal",
    "Props/Trigger_Box",
    "Props/Book",
    "Archetype_Guard",
    "Zombie_Walker",
    "Zombie_Runner",
    "Flammable",
    "Pushable",
    "Metal",
    "sfx_pistol_fire",
    "sfx_pistol_reload",
    "sfx_knife_swing",
    "ui\\icons\\pistol.dds",
    "ui\\icons\\knife.dds",
    "ui\\icons\\book.dds",
};

struct TextEntry {
  const char* id;    // symbolic text ID; its NameHash is the key
  const char* text;  // the entry's text
};

// Symbolic names of text IDs. TXT_PROP_BARREL is missing on purpose (it has an English text
// only) and TXT_WEAPON_PROTOTYPE is in neither table.
constexpr TextEntry kTextIdNames[] = {
    {"TXT_PROP_CRATE", "TXT_PROP_CRATE"},
    {"TXT_PROP_DOOR", "TXT_PROP_DOOR"},
    {"TXT_GUARD_NAME", "TXT_GUARD_NAME"},
    {"TXT_CAPTAINS_LOG", "TXT_CAPTAINS_LOG"},
    {"TXT_WEAPON_PISTOL_DESC", "TXT_WEAPON_PISTOL_DESC"},
    {"TXT_WEAPON_KNIFE_DESC", "TXT_WEAPON_KNIFE_DESC"},
};

// English texts. TXT_PROP_DOOR has none on purpose.
constexpr TextEntry kEnglishTexts[] = {
    {"TXT_PROP_CRATE", "Wooden crate"},
    {"TXT_PROP_BARREL", "Explosive barrel"},
    {"TXT_GUARD_NAME", "Dock guard"},
    {"TXT_CAPTAINS_LOG", "The captain's log"},
    {"TXT_WEAPON_PISTOL_DESC", "A reliable sidearm.\r\nHolds 15 rounds."},
    {"TXT_WEAPON_KNIFE_DESC", "Ein Messer f\xC3\xBCr den Nahkampf \xE2\x80\x93 scharf."},
};

std::string HashList() {
  std::string text;
  for (const char* name : kHashNames) {
    text += name;
    text += "\r\n";
  }
  return text;
}

void PutWord(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// u32 count N, N keys, N offsets from the start of the file, then the NUL-terminated texts.
std::string TextIdTable(std::span<const TextEntry> entries) {
  const uint32_t count = static_cast<uint32_t>(entries.size());
  std::string table;
  PutWord(table, count);
  for (const TextEntry& entry : entries) {
    PutWord(table, NameHash(entry.id));
  }
  uint32_t offset = 4 + 8 * count;
  for (const TextEntry& entry : entries) {
    PutWord(table, offset);
    offset += static_cast<uint32_t>(std::strlen(entry.text)) + 1;
  }
  for (const TextEntry& entry : entries) {
    table += entry.text;
    table += '\0';
  }
  return table;
}

bool WriteDictionary(const std::string& root, const char* name, const std::string& content) {
  const std::string path = root + "/" + name;
  if (!PrepareFolder(path) || !WriteWholeBytes(path.c_str(), content.data(), content.size())) {
    std::fprintf(stderr, "Failed to write \"%s\".\n", path.c_str());
    return false;
  }
  std::printf("%s: %zu bytes\n", name, content.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "Usage: make_examples <output folder>\n");
    return 2;
  }
  const std::string root = argv[1];

  CoreTypeTable core_types;
  TypeRegistry registry;
  if (!BuildCoreTypeTable(core_types) || !BuildSchema(registry)) {
    std::fprintf(stderr, "Failed to build the example schema.\n");
    return 1;
  }
  for (const ExampleFile& file : kExampleFiles) {
    if (!WriteExampleFile(root, file, registry, core_types)) {
      return 1;
    }
  }
  if (!WriteDictionary(root, "Hash.txt", HashList()) ||
      !WriteDictionary(root, "qvxmain_ids.cvs", TextIdTable(kTextIdNames)) ||
      !WriteDictionary(root, "qvxmain_en.cvs", TextIdTable(kEnglishTexts))) {
    return 1;
  }
  return 0;
}
