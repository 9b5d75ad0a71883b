// types/enum_types.cpp - the game's enumeration and flag-set types and their names tables.
//
// The type table below has one row per type; each row becomes one static core type object of
// TEnumCoreType or TFlagCoreType with the row's parameters. A type whose names are not known
// points at no names: its values still read, write and print (as numbers) unchanged. To name
// more values, add a names table above the type table and point the type's row at it.
#include "types/enum_types.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <utility>

#include "document/lexer.h"
#include "foundation/ascii.h"
#include "types/core_type_hashes.h"
#include "types/primitive_types.h"

namespace {

constexpr EnumTypeKind kEnum = EnumTypeKind::kEnum;
constexpr EnumTypeKind kFlags = EnumTypeKind::kFlags;

// ---- names tables ---------------------------------------------------------------------------
// In priority order: the first entry with a value is the one that prints.

constexpr EnumName kControllerStateNames[] = {
    {"STATE_PLAY", 1},
    {"STATE_DEBUG_MENU", 2},
    {"STATE_FE_MAP", 512},
    {"STATE_ANY", 127},
    {"STATE_ALL_GAMEPLAY", 81},
    {"ControllerState@STATE_ALL_GAMEPLAY", 81},
    {"ControllerState@STATE_ANY", 127},
    {"ControllerState@STATE_FE_MAP", 512},
    {"ControllerState@STATE_DEBUG_MENU", 2},
    {"ControllerState@STATE_PLAY", 1},
};

constexpr EnumName kDamageAmountNames[] = {
    {"INSTANT_KILL", 999999}, {"NONE", 0},   {"INVALID", 0}, {"LIGHT", 25},
    {"MEDIUM", 50},           {"HEAVY", 75},
};

constexpr EnumName kFSMissionSuccessStateNames[] = {
    {"SUCCESS_ANY", -1},      {"NUM_STATES", 3},     {"SUCCESS_UNFINISHED", 0},
    {"SUCCESS_SUCCEEDED", 1}, {"SUCCESS_FAILED", 2},
};

constexpr EnumName kLockerCooldownNames[] = {
    {"LOCKER_COOLDOWN_COUNT", 91},
    {"LOCKER_COOLDOWN_FAST", 30},
    {"LOCKER_COOLDOWN_NORMAL", 60},
    {"LOCKER_COOLDOWN_SLOW", 90},
};

constexpr EnumName kUpgradeableFlagsNames[] = {
    {"UPGRADEABLE_DEATH_EXPLOSION", 1},
    {"UPGRADEABLE_SUCTION", 2},
    {"UpgradeableFlags@UPGRADEABLE_SUCTION", 2},
    {"UpgradeableFlags@UPGRADEABLE_DEATH_EXPLOSION", 1},
};

constexpr EnumName kWeaponTypeNames[] = {
    {"WEAPON_TYPE_ANY", 2},
    {"WEAPON_TYPE_GUN", 0},
    {"WEAPON_TYPE_NOT_GUN", 1},
};

// ---- type table -----------------------------------------------------------------------------
// Sorted by name ignoring case. Flag sets have no minimum and no fallback (0 in those columns).

// clang-format off
constexpr EnumTypeInfo kEnumTypes[] = {
    // name                                   kind    bits min fallback names
    {"cAbortExitVehicleReason",               kEnum,   2,  0,      2, {}},
    {"cAchievementType",                      kEnum,   5,  0,     20, {}},
    {"cActionLogicEvents",                    kFlags,  6,  0,      0, {}},
    {"cActionOverlayIcons",                   kEnum,   7,  0,     65, {}},
    {"cActorAssetType",                       kEnum,   1,  0,      1, {}},
    {"cAIDynamicObstacleType",                kEnum,   2,  0,      2, {}},
    {"cAmmoRegenType",                        kEnum,   1,  0,      1, {}},
    {"cAnalogStick",                          kEnum,   2,  0,      2, {}},
    {"cAnimatedPostFXFloatVariables",         kEnum,   5,  0,     17, {}},
    {"cAnimatedPostFXVector3Variables",       kEnum,   2,  0,      2, {}},
    {"cAnimationSpeedFactor",                 kEnum,   4,  0,      9, {}},
    {"cAnimAudioEventType",                   kEnum,   3,  0,      6, {}},
    {"cAnimChoiceFlag",                       kFlags,  3,  0,      0, {}},
    {"cAnimEventUpdatePolicy",                kEnum,   1,  0,      1, {}},
    {"cAnimPass",                             kEnum,   2,  0,      3, {}},
    {"cAnimSetHint",                          kEnum,   8,  0,      0, {}},
    {"cAnimStateFlag",                        kFlags, 31,  0,      0, {}},
    {"cAnimStateProperties",                  kFlags,  8,  0,      0, {}},
    {"cApplyTransitionDeltaTimePolicy",       kEnum,   2,  0,      2, {}},
    {"cApplyTransitionDeltaTranslationPolicy",kEnum,   2,  0,      2, {}},
    {"cArsonBlendMode",                       kEnum,   3,  0,      4, {}},
    {"cArsonCollisionType",                   kEnum,   2,  0,      2, {}},
    {"cArsonColourAttributeType",             kEnum,   1,  0,      1, {}},
    {"cArsonFloatAttributeType",              kEnum,   3,  0,      5, {}},
    {"cArsonLightType",                       kEnum,   1,  0,      1, {}},
    {"cArsonParticleShaderFeature",           kFlags,  5,  0,      0, {}},
    {"cAttachPointType",                      kEnum,   2,  0,      3, {}},
    {"cAttachType",                           kEnum,   1,  0,      1, {}},
    {"cAttackDirectionOverride",              kEnum,   4,  0,     14, {}},
    {"cAttackFlags",                          kFlags,  7,  0,      0, {}},
    {"cAttackPhysicalContact",                kEnum,   3,  0,      5, {}},
    {"cAttackSequenceAudioType",              kEnum,   2,  0,      3, {}},
    {"cAttackVerticalDirection",              kEnum,   2,  0,      3, {}},
    {"cAudioDamageType",                      kFlags,  9,  0,      0, {}},
    {"cAudioMaterialType",                    kEnum,   4,  0,     14, {}},
    {"cAudioPropertiesFlags",                 kFlags,  4,  0,      0, {}},
    {"cAudioVolumeFlag",                      kFlags, 10,  0,      0, {}},
    {"cAxis",                                 kEnum,   2,  0,      2, {}},
    {"cBaseAttachableVolumeType",             kEnum,   2,  0,      2, {}},
    {"cBasisVectorSource",                    kEnum,   3,  0,      7, {}},
    {"cBeaconFaction",                        kFlags, 13,  0,      0, {}},
    {"cBeaconOptions",                        kFlags, 26,  0,      0, {}},
    {"cBeaconType",                           kFlags,  8,  0,      0, {}},
    {"cBezierSegmentCurveNodeConstraint",     kEnum,   2,  0,      2, {}},
    {"cBodyStatus",                           kFlags,  8,  0,      0, {}},
    {"cBookType",                             kEnum,   4,  0,      9, {}},
    {"cButtonLogicalOperator",                kEnum,   3,  0,      6, {}},
    {"cButtonName",                           kEnum,   8,  0,    152, {}},
    {"cButtonState",                          kEnum,   4,  0,     10, {}},
    {"cCameraBehaviorCondition",              kEnum,   3,  0,      6, {}},
    {"cCameraBehaviorTrackSource",            kEnum,   3,  0,      6, {}},
    {"cCameraDependencyCause",                kEnum,   3,  0,      5, {}},
    {"cCameraDependencyOperator",             kEnum,   2,  0,      2, {}},
    {"cCameraDependencyResult",               kEnum,   3,  0,      5, {}},
    {"cCameraFeatureHints",                   kFlags, 12,  0,      0, {}},
    {"cCameraInteraction",                    kEnum,   2,  0,      2, {}},
    {"cCameraLookSide",                       kEnum,   2,  0,      2, {}},
    {"cCameraOrientationHint",                kEnum,   3,  0,      4, {}},
    {"cCameraShakeType",                      kEnum,   4,  0,     10, {}},
    {"cCertaintyLevel",                       kEnum,   2,  0,      3, {}},
    {"cCharacterRigidBodyState",              kEnum,   3,  0,      4, {}},
    {"cCharacterType",                        kEnum,   2,  0,      3, {}},
    {"cCineZombieBehavior",                   kEnum,   2,  0,      2, {}},
    {"cClimbEntryFlag",                       kFlags, 16,  0,      0, {}},
    {"cClothingDispenserFlags",               kFlags,  8,  0,      0, {}},
    {"cClothingItemSlots",                    kFlags,  7,  0,      0, {}},
    {"cClothingPart",                         kEnum,   3,  0,      7, {}},
    {"cCloudTag",                             kEnum,   3,  0,      7, {}},
    {"cCollisionShapeType",                   kEnum,   5,  0,     22, {}},
    {"cComboVehicleSpawnPos",                 kEnum,   2,  0,      2, {}},
    {"cComparisionType",                      kEnum,   3,  0,      4, {}},
    {"cComparisonType",                       kEnum,   3,  0,      6, {}},
    {"cConsumeType",                          kEnum,   2,  0,      2, {}},
    {"cControllerState",                      kEnum,  10,  0,      0, kControllerStateNames},
    {"cCounterModificationType",              kEnum,   1,  0,      1, {}},
    {"cCrowdSwimReactionType",                kEnum,   4,  0,     13, {}},
    {"cCurrentWeaponOnOffChooserEnum",        kEnum,   2,  0,      2, {}},
    {"cDamageAmount",                         kEnum,  20,  0, 999999, kDamageAmountNames},
    {"cDamageOverTimeType",                   kEnum,   2,  0,      3, {}},
    {"cDamageParticipantType",                kEnum,   2,  0,      2, {}},
    {"cDamageStrength",                       kEnum,   4,  0,     10, {}},
    {"cDamageStrengthSubset",                 kEnum,   2,  0,      3, {}},
    {"cDamageType",                           kEnum,   4,  0,     13, {}},
    {"cDecalBlobCategory",                    kEnum,   4,  0,      8, {}},
    {"cDecalLightType",                       kEnum,   1,  0,      1, {}},
    {"cDestroyZombiesType",                   kEnum,   2,  0,      2, {}},
    {"cDismembermentRecipeName",              kEnum,   6,  0,     36, {}},
    {"cDismembermentType",                    kFlags,  6,  0,      0, {}},
    {"cDispenseTriggerFlag",                  kFlags,  9,  0,      0, {}},
    {"cDLCUnlock",                            kFlags, 22,  0,      0, {}},
    {"cDoorDirection",                        kEnum,   1,  0,      1, {}},
    {"cDoorLockState",                        kEnum,   2,  0,      3, {}},
    {"cDoorState",                            kEnum,   1,  0,      1, {}},
    {"cDroneCommanderMode",                   kEnum,   3,  0,      6, {}},
    {"cEngineType",                           kEnum,   1,  0,      1, {}},
    {"cFeelerObstructedObject",               kFlags,  9,  0,      0, {}},
    {"cFieldTrainingMissionType",             kEnum,   4,  0,     13, {}},
    {"cFoodType",                             kEnum,   5,  0,     18, {}},
    {"cFootDown",                             kEnum,   1,  0,      1, {}},
    {"cFootIKOverridePlanting",               kEnum,   2,  0,      2, {}},
    {"cFootstepType",                         kEnum,   4,  0,     11, {}},
    {"cFSConditionConnector",                 kEnum,   2,  0,      3, {}},
    {"cFSFEEvent",                            kEnum,   5,  0,     29, {}},
    {"cFSFEEventParameterized",               kEnum,   3,  0,      4, {}},
    {"cFSFEMessageEvent",                     kEnum,   2,  0,      3, {}},
    {"cFSFEMessageParamType",                 kEnum,   2,  0,      2, {}},
    {"cFSMapIconType",                        kEnum,   2,  0,      3, {}},
    {"cFSMissionProgress",                    kEnum,   3, -1,     -1, {}},
    {"cFSMissionSuccessState",                kEnum,   3, -1,     -1, kFSMissionSuccessStateNames},
    {"cFSMissionType",                        kEnum,   3,  0,      5, {}},
    {"cFSPlayerVehicleInteractionType",       kEnum,   1,  0,      1, {}},
    {"cFSTransformFlags",                     kEnum,   4,  0,     10, {}},
    {"cFSTriggerThisManyTimes",               kEnum,   2,  0,      2, {}},
    {"cFSWorldStateFlag",                     kFlags, 19,  0,      0, {}},
    {"cGameObjectHndType",                    kEnum,   4,  0,      9, {}},
    {"cGearboxType",                          kEnum,   4,  0,     10, {}},
    {"cGrappleStage",                         kEnum,   2,  0,      2, {}},
    {"cGripHand",                             kEnum,   1,  0,      1, {}},
    {"cGSCKiller",                            kFlags,  2,  0,      0, {}},
    {"cGSCRewardType",                        kEnum,   1,  0,      1, {}},
    {"cGSCType",                              kEnum,   4,  0,      9, {}},
    {"cGSCWithMisc",                          kEnum,   2,  0,      2, {}},
    {"cGunType",                              kEnum,   2,  0,      3, {}},
    {"cHidableBodyPart",                      kFlags, 17,  0,      0, {}},
    {"cHUDComponentMode",                     kEnum,   4,  0,      9, {}},
    {"cIKTargetType",                         kEnum,   3,  0,      7, {}},
    {"cInAnimWithAnimFlagMatchType",          kEnum,   1,  0,      1, {}},
    {"cInputSequenceControlScheme",           kFlags,  2,  0,      0, {}},
    {"cInteractionFacingAngle",               kEnum,   3,  0,      5, {}},
    {"cInteractionRange",                     kEnum,   3,  0,      5, {}},
    {"cInventoryQuery",                       kEnum,   3,  0,      5, {}},
    {"cItemNameType",                         kEnum,   3,  0,      5, {}},
    {"cKeyItemState",                         kEnum,   2,  0,      3, {}},
    {"cKeyItemType",                          kEnum,   3,  0,      5, {}},
    {"cLandChooserEnum",                      kEnum,   4,  0,      8, {}},
    {"cLegFoleyType",                         kEnum,   4,  0,     11, {}},
    {"cLightTimeCategory",                    kEnum,   2,  0,      2, {}},
    {"cLightType",                            kEnum,   1,  0,      1, {}},
    {"cLoadDistance",                         kEnum,   3,  0,      5, {}},
    {"cLocationType",                         kEnum,   4,  0,     12, {}},
    {"cLocatorType",                          kEnum,   7,  0,     71, {}},
    {"cLockerCameraType",                     kEnum,   4,  0,     11, {}},
    {"cLockerCooldown",                       kEnum,   6, 30,     91, kLockerCooldownNames},
    {"cLockerType",                           kEnum,   3,  0,      5, {}},
    {"cLocomotionType",                       kEnum,   3, -1,      4, {}},
    {"cLogicalBoneName",                      kEnum,   6, -1,      1, {}},
    {"cMiniGameUIEventType",                  kEnum,   5,  0,     16, {}},
    {"cMotionBoneBlendFlag",                  kFlags,  2,  0,      0, {}},
    {"cMotionBoneBlendPolicy",                kEnum,   1,  0,      1, {}},
    {"cOccupantSlot",                         kEnum,   4,  0,      8, {}},
    {"cPartitionActionExecutionMethod",       kEnum,   2,  0,      2, {}},
    {"cPerceptionTargetType",                 kEnum,   3,  0,      7, {}},
    {"cPlayerAttribute",                      kEnum,   3,  0,      7, {}},
    {"cPlayerToCheckConditionFor",            kEnum,   2,  0,      2, {}},
    {"cPose",                                 kEnum,   3,  0,      7, {}},
    {"cPosseLockerStatus",                    kEnum,   2,  0,      3, {}},
    {"cPosseMemberCommand",                   kEnum,   3,  0,      4, {}},
    {"cProductionStatus",                     kEnum,   2,  0,      3, {}},
    {"cPropAnimationTarget",                  kEnum,   2,  0,      2, {}},
    {"cPropAudioFlags",                       kFlags,  5,  0,      0, {}},
    {"cPropWeight",                           kEnum,   2,  0,      2, {}},
    {"cProximityFeelerDirection",             kEnum,   4,  0,     10, {}},
    {"cRateTypes",                            kEnum,   2,  0,      2, {}},
    {"cRequestedLocoOutOfAttack",             kEnum,   2,  0,      2, {}},
    {"cRunSpeedChooserEnum",                  kEnum,   3,  0,      4, {}},
    {"cShadowUpdateRate",                     kEnum,   2,  0,      2, {}},
    {"cShootTaskSelectionLogicType",          kEnum,   1,  0,      1, {}},
    {"cSkeletonPartition",                    kEnum,   4,  0,      8, {}},
    {"cSkeletonType",                         kEnum,   2,  0,      0, {}},
    {"cSkillMoveEventType",                   kEnum,   2,  0,      3, {}},
    {"cSlicePointLocator",                    kEnum,   5,  0,     24, {}},
    {"cSmashPointLocator",                    kEnum,   5,  0,     16, {}},
    {"cSoulmateActionState",                  kEnum,   4,  0,      9, {}},
    {"cSoulmateAppFlags",                     kFlags,  8,  0,      0, {}},
    {"cSpecOpsMode",                          kEnum,   2,  0,      2, {}},
    {"cSteerAxis",                            kEnum,   2,  0,      3, {}},
    {"cSteerType",                            kEnum,   2,  0,      2, {}},
    {"cStickDirection",                       kEnum,   1,  0,      1, {}},
    {"cStoreLocationType",                    kEnum,   5,  0,     17, {}},
    {"cStrongholdAIConditionType",            kEnum,   2,  0,      2, {}},
    {"cStuckLogicFlags",                      kFlags,  5,  0,      0, {}},
    {"cSurvivorEmotion",                      kEnum,   3,  0,      6, {}},
    {"cSurvivorOneShotID",                    kEnum,   5,  0,     20, {}},
    {"cSurvivorStatTypes",                    kEnum,   3,  0,      4, {}},
    {"cSyncPartnerType",                      kEnum,   2,  0,      3, {}},
    {"cTaskDynamicTypeFlag",                  kFlags,  6,  0,      0, {}},
    {"cTaskGraphMode",                        kEnum,   1,  0,      1, {}},
    {"cTaskOwnershipRequirements",            kEnum,   2,  0,      2, {}},
    {"cTestConditionTarget",                  kEnum,   5,  0,     16, {}},
    {"cTetherType",                           kEnum,   2,  0,      2, {}},
    {"cThrowLogic",                           kEnum,   3,  0,      4, {}},
    {"cThrowType",                            kEnum,   2,  0,      2, {}},
    {"cTicketBlockInfoType",                  kEnum,   3,  0,      4, {}},
    {"cTicketType",                           kEnum,   6,  0,     38, {}},
    {"cTorsoFoleyType",                       kEnum,   4,  0,      9, {}},
    {"cTransitionType",                       kEnum,   2,  0,      3, {}},
    {"cUpgradeableFlags",                     kFlags,  2,  0,      0, kUpgradeableFlagsNames},
    {"cUserControlSlot",                      kEnum,   2,  0,      3, {}},
    {"cVariationType",                        kEnum,   3,  0,      4, {}},
    {"cVehicleAnimCategory",                  kEnum,   3,  0,      5, {}},
    {"cVehicleBlendShapeZone",                kEnum,   4,  0,     10, {}},
    {"cVehicleCategory",                      kEnum,   3, -1,      6, {}},
    {"cVehicleDamageMonitorState",            kEnum,   3,  0,      5, {}},
    {"cVehicleHornState",                     kEnum,   1,  0,      1, {}},
    {"cVehicleImpulseModifierType",           kEnum,   2,  0,      2, {}},
    {"cVehicleLight",                         kEnum,   4,  0,     11, {}},
    {"cVehicleLightType",                     kEnum,   4,  0,      8, {}},
    {"cVehicleWindowGroupId",                 kEnum,   3,  0,      5, {}},
    {"cVibrationPattern",                     kEnum,   7,  0,    124, {}},
    {"cVictimEffectType",                     kEnum,   4,  0,     10, {}},
    {"cWarpMotionByLocatorFlags",             kFlags,  6,  0,      0, {}},
    {"cWarpMotionByOffsetType",               kEnum,   4,  0,     10, {}},
    {"cWarpMotionTarget",                     kEnum,   3,  0,      6, {}},
    {"cWeaponAudioWeight",                    kEnum,   2,  0,      3, {}},
    {"cWeaponClass",                          kEnum,   7, -1,    100, {}},
    {"cWeaponType",                           kEnum,   2,  0,      2, kWeaponTypeNames},
    {"cWorldPhysicsCollisionFilter",          kEnum,   7,  0,     82, {}},
    {"cWorldPhysicsObjType",                  kFlags, 31,  0,      0, {}},
    {"cZombieGrappleIKPointType",             kEnum,   3,  0,      6, {}},
    {"cZombieHighLevelType",                  kEnum,   4,  0,     13, {}},
    {"cZombieLogicTune",                      kEnum,   3,  0,      4, {}},
    {"cZombieProxyShapeOverride",             kEnum,   3,  0,      4, {}},
    {"cZombieSituationSpawnTaskOptions",      kFlags,  3,  0,      0, {}},
    {"cZombieStage",                          kEnum,   4,  0,      8, {}},
    {"cZombieVariant",                        kEnum,   2,  0,      2, {}},
};
// clang-format on

constexpr size_t kEnumTypeCount = std::size(kEnumTypes);

// ---- checks on the table --------------------------------------------------------------------

constexpr uint64_t FieldLimit(uint32_t bits) { return uint64_t{1} << bits; }

constexpr bool Storable(const EnumTypeInfo& type, int32_t value) {
  if (type.kind == kFlags) {
    return value >= 0 && static_cast<uint64_t>(value) < FieldLimit(type.bits);
  }
  const int64_t stored = int64_t{value} - type.minimum;
  return stored >= 0 && static_cast<uint64_t>(stored) < FieldLimit(type.bits);
}

// Every name stands for a value the field can hold, and each flag is a single bit, so that
// printing a mask and reading it back gives the same mask.
constexpr bool NamesAreStorable() {
  for (const EnumTypeInfo& type : kEnumTypes) {
    for (const EnumName& entry : type.names) {
      if (!Storable(type, entry.value)) return false;
      if (type.kind == kFlags && !std::has_single_bit(static_cast<uint32_t>(entry.value))) {
        return false;
      }
    }
  }
  return true;
}
static_assert(NamesAreStorable(), "a name stands for a value its type cannot store");

constexpr char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

constexpr bool NameLessIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = FoldCase(*a);
    const char y = FoldCase(*b);
    if (x != y) return x < y;
    if (x == '\0') return false;
  }
}

constexpr bool TypesAreSorted() {
  for (size_t i = 1; i < kEnumTypeCount; ++i) {
    if (!NameLessIgnoringCase(kEnumTypes[i - 1].name, kEnumTypes[i].name)) return false;
  }
  return true;
}
static_assert(TypesAreSorted(), "keep the type table sorted by name");

// ---- the core type objects ------------------------------------------------------------------

// The class of row I's object.
template <size_t I>
using RowCoreType = std::conditional_t<
    kEnumTypes[I].kind == kEnum,
    TEnumCoreType<kEnumTypes[I].bits, kEnumTypes[I].minimum, kEnumTypes[I].fallback>,
    TFlagCoreType<kEnumTypes[I].bits>>;

template <size_t I>
struct RowObject {
  RowCoreType<I> type{kEnumTypes[I].name, kEnumTypes[I].names};
};

// One object per row, built in table order at start-up (each links itself into CoreTypeList).
template <typename Rows>
struct EnumTypeObjects;
template <size_t... I>
struct EnumTypeObjects<std::index_sequence<I...>> : RowObject<I>... {};

EnumTypeObjects<std::make_index_sequence<kEnumTypeCount>> enum_type_objects;

// ---- text helpers ---------------------------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A decimal integer with an optional sign spanning exactly [text, end), within int32 range.
bool ParseDecimal(const char* text, const char* end, int32_t& value) {
  bool negative = false;
  if (text != end && (*text == '+' || *text == '-')) {
    negative = *text == '-';
    ++text;
  }
  if (text == end) return false;
  int64_t magnitude = 0;
  for (; text != end; ++text) {
    if (*text < '0' || *text > '9') return false;
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > int64_t{INT32_MAX} + 1) return false;
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result > INT32_MAX) return false;
  value = static_cast<int32_t>(result);
  return true;
}

// The number forms an enumeration value may take instead of a name: "%d", and the comment
// form "/* %d */" (blanks around the number optional).
bool ParseEnumNumber(const char* text, size_t length, int32_t& value) {
  const char* end = text + length;
  if (length >= 4 && std::memcmp(text, "/*", 2) == 0 && std::memcmp(end - 2, "*/", 2) == 0) {
    text += 2;
    end -= 2;
    while (text != end && IsBlank(*text)) ++text;
    while (end != text && IsBlank(end[-1])) --end;
  }
  return ParseDecimal(text, end, value);
}

// The integer value of a number token: the low 32 bits of its integer part, negated when the
// number is negative; a fraction or an exponent is ignored.
uint32_t NumberLow32(const NumberToken& number) {
  const uint32_t low = static_cast<uint32_t>(number.integer_part);
  return number.negative ? 0u - low : low;
}

}  // namespace

std::span<const EnumTypeInfo> EnumTypeTable() { return kEnumTypes; }

const EnumTypeInfo* FindEnumType(const char* name) {
  if (name == nullptr) return nullptr;
  for (const EnumTypeInfo& type : kEnumTypes) {
    if (std::strcmp(type.name, name) == 0) return &type;
  }
  return nullptr;
}

uint32_t EnumCoreTypeCount() { return static_cast<uint32_t>(kEnumTypeCount); }

// ---- enumerations ---------------------------------------------------------------------------

CEnumCoreType::CEnumCoreType(const char* type_name, uint32_t bits, int32_t minimum,
                             int32_t fallback, std::span<const EnumName> names) noexcept
    : CCoreType(type_name), bits_(bits), minimum_(minimum), fallback_(fallback), names_(names) {}

bool CEnumCoreType::WriteValue(BitWriter& writer, const FieldInfo&, const ValueNode& value) const {
  const int64_t stored = int64_t{static_cast<int32_t>(value.payload.word)} - minimum_;
  if (stored < 0 || static_cast<uint64_t>(stored) >= FieldLimit(bits_)) {
    return false;
  }
  writer.Write(bits_, static_cast<uint32_t>(stored));
  return !writer.failed;
}

bool CEnumCoreType::ReadValue(BitReader& reader, const FieldInfo&, ValueNode& value) const {
  value.payload.word = reader.Read(bits_) + static_cast<uint32_t>(minimum_);
  return !reader.failed;
}

bool CEnumCoreType::FixedBitWidth(const FieldInfo&, uint32_t& bits) const {
  bits = bits_;
  return bits_ <= 32;
}

namespace {

// Whether the `length` bytes at `a` and `b` are equal ignoring ASCII case.
bool SameBytesIgnoringCase(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  }
  return true;
}

// Whether the entry's name is the text of `length` bytes, ignoring case (the text need not end
// there). The lengths are compared first: the names of one type often share a long beginning
// ("UPGRADEABLE_"). A name written as the table spells it, as gentext writes it, matches in
// one library compare.
bool NamesText(const EnumName& entry, const char* text, size_t length) {
  return entry.length == length && (std::memcmp(entry.name, text, length) == 0 ||
                                    SameBytesIgnoringCase(entry.name, text, length));
}

}  // namespace

bool CEnumCoreType::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  // The whole text is the value.
  const char* text = LexerText(lexer);
  if (ParsePlainText(text, LexerTextLength(lexer), value)) {
    return true;
  }
  ReportWarning(lexer, "Unknown name \"%s\" for %s, using fallback.", text, name.data);
  value.payload.word = static_cast<uint32_t>(fallback_);
  return true;
}

bool CEnumCoreType::ParsePlainText(const char* text, uint32_t length, ValueNode& value) const {
  // A text with a NUL inside it is no name (no entry name holds one) and no number.
  for (const EnumName& entry : names_) {
    if (NamesText(entry, text, length)) {
      value.payload.word = static_cast<uint32_t>(entry.value);
      return true;
    }
  }
  int32_t number = 0;
  if (ParseEnumNumber(text, length, number)) {
    value.payload.word = static_cast<uint32_t>(number);
    return true;
  }
  return false;
}

bool CEnumCoreType::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                CStringBufferA&) const {
  const int32_t number = static_cast<int32_t>(value.payload.word);
  for (const EnumName& entry : names_) {
    if (entry.value == number) {
      out.Refill(entry.name);
      return true;
    }
  }
  FormatDecimal(out, number);
  return true;
}

uint32_t CEnumCoreType::StorageTypeHash() const { return kCHashHash; }

// ---- flag sets ------------------------------------------------------------------------------

CFlagCoreType::CFlagCoreType(const char* type_name, uint32_t bits,
                             std::span<const EnumName> names) noexcept
    : CCoreType(type_name), bits_(bits), names_(names) {}

bool CFlagCoreType::WriteValue(BitWriter& writer, const FieldInfo&, const ValueNode& value) const {
  if (value.payload.word >= FieldLimit(bits_)) {
    return false;
  }
  writer.Write(bits_, value.payload.word);
  return !writer.failed;
}

bool CFlagCoreType::ReadValue(BitReader& reader, const FieldInfo&, ValueNode& value) const {
  value.payload.word = reader.Read(bits_);
  return !reader.failed;
}

bool CFlagCoreType::FixedBitWidth(const FieldInfo&, uint32_t& bits) const {
  bits = bits_;
  return bits_ <= 32;
}

bool CFlagCoreType::ParseValue(Lexer& lexer, ValueNode& value, void*) const {
  uint32_t mask = 0;
  TokenKind kind = NextToken(lexer);
  if (kind != TokenKind::kEof) {
    for (;;) {
      if (kind == TokenKind::kNumber) {
        mask |= NumberLow32(lexer.number);
      } else if (kind == TokenKind::kIdentifier) {
        // Every entry of the name counts: a table may list one name more than once.
        bool known = false;
        for (const EnumName& entry : names_) {
          if (NamesText(entry, lexer.identifier_value.data, lexer.identifier_value.length)) {
            mask |= static_cast<uint32_t>(entry.value);
            known = true;
          }
        }
        if (!known) {
          ReportWarning(lexer, "Unknown name \"%s\" for %s, ignored.", lexer.identifier_value.data,
                        name.data);
        }
      } else {
        return false;
      }
      kind = NextToken(lexer);
      if (kind == TokenKind::kEof) break;
      if (kind != TokenKind::kComma) return false;
      kind = NextToken(lexer);
    }
  }
  value.payload.word = mask;
  return true;
}

bool CFlagCoreType::FormatValue(CStringBufferA& out, const ValueNode& value, void*,
                                CStringBufferA&) const {
  out.Empty();
  uint32_t remaining = value.payload.word;
  bool first = true;
  for (const EnumName& entry : names_) {
    const uint32_t bits = static_cast<uint32_t>(entry.value);
    if ((bits & remaining) != 0) {
      if (!first) out.AppendChar(',');
      out.Append(entry.name);
      first = false;
      remaining &= ~bits;
    }
  }
  // Bits no entry names print as one number, so the mask reads back whole.
  if (remaining != 0) {
    if (!first) out.AppendChar(',');
    AppendDecimal(out, remaining);
  }
  return true;
}

bool CFlagCoreType::ParsePlainText(const char* text, uint32_t length, ValueNode& value) const {
  // Names separated by "," without spaces, each naming at least one entry: what ParseValue
  // reads without a warning from identifier tokens alone. The empty text is 0.
  uint32_t mask = 0;
  const char* const end = text + length;
  for (const char* start = text; start != end;) {
    const char* comma = static_cast<const char*>(std::memchr(start, ',', end - start));
    const char* const stop = comma != nullptr ? comma : end;
    const size_t count = static_cast<size_t>(stop - start);
    // One identifier token, as the value lexer reads a name.
    if (!IsPlainIdentifier(start, static_cast<uint32_t>(count))) {
      return false;
    }
    bool known = false;
    for (const EnumName& entry : names_) {
      if (NamesText(entry, start, count)) {
        mask |= static_cast<uint32_t>(entry.value);
        known = true;
      }
    }
    if (!known || (comma != nullptr && comma + 1 == end)) {
      return false;  // an unknown name warns; a trailing "," fails
    }
    start = comma != nullptr ? comma + 1 : end;
  }
  value.payload.word = mask;
  return true;
}

uint32_t CFlagCoreType::StorageTypeHash() const { return kCHashHash; }
