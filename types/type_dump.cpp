// types/type_dump.cpp - the text listing of class types.
#include "types/type_dump.h"

namespace {

void DumpField(const FieldInfo& field, const TypeRegistry& registry,
               const CoreTypeTable& core_types, CStringBufferA& out) {
  const CCoreType* core_type = FindCoreType(core_types, field.type_hash);
  if (core_type != nullptr) {
    out.AppendFormat("\t%s %s", core_type->name.data, field.name.data);
  } else if (const ClassType* class_type = registry.Find(field.type_hash)) {
    out.AppendFormat("\t%s %s", class_type->name.data, field.name.data);
  } else {
    out.AppendFormat("\t#%u %s", field.type_hash, field.name.data);
  }
  if (field.array_size < 0) {
    out.Append("[]");
  } else if (field.array_size > 0) {
    out.AppendFormat("[%d]", field.array_size);
  }
  out.AppendFormat(" %s", QuantizationModeName(field.quantization_mode));
  if (field.mode() == QuantizationMode::Int) {
    const IntQuantization& q = field.int_quantization;
    out.AppendFormat(" [%d - %d: %d]", q.minimum, q.maximum, q.step);
  } else if (field.mode() == QuantizationMode::Float) {
    const FloatQuantization& q = field.float_quantization;
    out.AppendFormat(" [%G - %G: %G]", static_cast<double>(q.minimum),
                     static_cast<double>(q.maximum), static_cast<double>(q.step));
  }
  if (core_type != nullptr) {
    out.Append(" [Core type]");
  }
  out.Append("\r\n");
}

}  // namespace

void DumpTypes(const TypeRegistry& registry, const CoreTypeTable& core_types, CStringBufferA& out) {
  registry.ForEach([&](const ClassType& class_type) {
    out.AppendFormat("%s %u %X {\r\n", class_type.name.data, class_type.name_hash,
                     class_type.name_hash);
    for (uint32_t i = 0; i < class_type.field_count; ++i) {
      DumpField(class_type.fields[i], registry, core_types, out);
    }
    out.Append("}\r\n");
  });
}
