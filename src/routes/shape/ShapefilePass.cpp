#include "routes/shape/ShapefilePass.h"

#include "routes/shape/DbfRewrite.h"

namespace vark::routes {

namespace {

// The old table is untouched until Commit renames the new one over it.
class ShapefilePass : public host::NewFieldPass {
public:
    ShapefilePass(ShapefileColumn column, std::function<void()> afterCommit)
        : m_name(std::move(column.fieldName)),
          m_sourceAttribute(column.sourceAttribute),
          m_mode(column.mode),
          m_afterCommit(std::move(afterCommit)),
          m_rewrite(column.dbfPath, std::move(column.encoding)) {}

    std::optional<std::string> EncodeText(std::string_view utf8) const override {
        return m_rewrite.encode(utf8);
    }

    std::int64_t Prepare(const ValueOf& valueOf) override {
        // A shapefile stores no null text: a blank one reads as "".
        const DbfRewrite::Result result = m_rewrite.prepare(
            m_name, m_sourceAttribute,
            [&valueOf](std::string_view text) { return valueOf(std::optional(text)); },
            m_mode == host::NewFieldMode::Overwrite ? DbfRewrite::Column::kOverwrite
                                                    : DbfRewrite::Column::kAdd);
        return result.records - result.deleted;
    }

    void Commit() override {
        m_rewrite.commit();
        if (m_afterCommit) {
            m_afterCommit();
        }
    }

private:
    std::string m_name;
    int m_sourceAttribute;
    host::NewFieldMode m_mode;
    std::function<void()> m_afterCommit;
    DbfRewrite m_rewrite;
};

}  // namespace

std::unique_ptr<host::NewFieldPass> OpenShapefilePass(ShapefileColumn column,
                                                      std::function<void()> afterCommit) {
    return std::make_unique<ShapefilePass>(std::move(column), std::move(afterCommit));
}

}  // namespace vark::routes
