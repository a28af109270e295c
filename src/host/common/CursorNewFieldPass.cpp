// The new-field pass of a host that offers nothing better: the field is
// added (or, to overwrite it, found), then filled through a column update
// that Commit flushes.

#include <utility>

#include "host/host.h"
#include "support/Failure.h"

namespace vark::host {

namespace {

class CursorNewFieldPass : public NewFieldPass {
public:
    CursorNewFieldPass(FeatureClass& featureClass, Field field, std::string sourceName,
                       NewFieldMode mode)
        : m_class(featureClass),
          m_field(std::move(field)),
          m_sourceName(std::move(sourceName)),
          m_mode(mode) {}

    std::int64_t Prepare(const ValueOf& valueOf) override {
        if (m_mode == NewFieldMode::Add) {
            m_class.AddFieldToClass(m_field);
        }
        const Fields fields = m_class.GetFields();
        const std::int32_t newIndex = fields.FindFieldIndex(m_field.GetFieldName());
        const std::int32_t sourceIndex = fields.FindFieldIndex(m_sourceName);
        if (newIndex < 0 || sourceIndex < 0) {
            throw Failure(
                err::kSubscriptOutOfRange,
                "Field " + (newIndex < 0 ? m_field.GetFieldName() : m_sourceName) +
                    (m_mode == NewFieldMode::Add ? " not found after the new field was added"
                                                 : " not found"),
                "NewFieldPass");
        }
        m_cursor = m_class.OpenColumnUpdateCursor({{sourceIndex}, {newIndex}});
        if (!m_cursor) {
            throw Failure(err::kObjectVariableNotSet, "The host gave no update cursor",
                          "NewFieldPass");
        }
        std::int64_t written = 0;
        while (auto row = m_cursor->NextRow()) {
            if (const std::optional<double> value = valueOf(row->GetRowText(sourceIndex))) {
                row->SetRowDouble(newIndex, *value);
            } else if (m_mode == NewFieldMode::Overwrite) {
                row->SetRowValue(newIndex, Value{});
            }
            m_cursor->StoreRow(*row);
            ++written;
        }
        return written;
    }

    void Commit() override {
        if (!m_cursor) {
            throw Failure(err::kInvalidProcedureCall, "Commit before Prepare", "NewFieldPass");
        }
        m_cursor->Flush();
        m_cursor.reset();
    }

private:
    FeatureClass& m_class;
    Field m_field;
    std::string m_sourceName;
    NewFieldMode m_mode;
    std::shared_ptr<UpdateCursor> m_cursor;
};

}  // namespace

std::unique_ptr<NewFieldPass> FeatureClass::OpenNewFieldPass(const Field& field,
                                                             std::int32_t sourceIndex,
                                                             NewFieldMode mode, WriteRoute route) {
    if (route != WriteRoute::kCursor) {
        throw Failure(err::kInvalidProcedureCall,
                      "The write route " + std::to_string(static_cast<int>(route)) +
                          " is not one this feature class serves",
                      "OpenNewFieldPass");
    }
    return std::make_unique<CursorNewFieldPass>(
        *this, field, GetFields().GetField(sourceIndex).GetFieldName(), mode);
}

}  // namespace vark::host
