#include "support/QtUiServices.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QString>
#include <QTranslator>
#include <vector>

namespace vark {

namespace {

bool HaveWidgetApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

QString ToQt(const std::string& s) {
    return QString::fromStdString(s);
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

QMessageBox::Icon ToQtIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Critical:
            return QMessageBox::Critical;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Information:
            return QMessageBox::Information;
        case MsgIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQtButtons(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MsgButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case MsgButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MsgButtons::Ok:
            break;
    }
    return QMessageBox::Ok;
}

/// Puts a translator in front of the application's own ones for the life of
/// one box or dialog, so that Qt's texts on it follow the component's
/// language without changing the rest of the host's windows for good.
class TranslatorInFront {
public:
    explicit TranslatorInFront(QTranslator* translator) : m_translator(translator) {
        if (m_translator) QCoreApplication::installTranslator(m_translator);
    }
    ~TranslatorInFront() {
        if (m_translator) QCoreApplication::removeTranslator(m_translator);
    }
    TranslatorInFront(const TranslatorInFront&) = delete;
    TranslatorInFront& operator=(const TranslatorInFront&) = delete;

private:
    QTranslator* m_translator;
};

}  // namespace

QtUiServices::QtUiServices(QWidget* parent, LanguageFn language)
    : m_parent(parent), m_language(std::move(language)) {}

QtUiServices::~QtUiServices() = default;

QWidget* QtUiServices::dialogParent() const {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    return m_parent.data();
}

QTranslator* QtUiServices::translatorForLanguage() {
    if (!m_language) return nullptr;
    std::string code;
    try {
        code = m_language();
    } catch (...) {
        return nullptr;
    }
    if (code.empty() || code == "en") return nullptr;
    auto found = m_translators.find(code);
    if (found == m_translators.end()) {
        auto translator = std::make_unique<QTranslator>();
        const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
        if (!translator->load(QStringLiteral("qt_") + ToQt(code), folder)) translator.reset();
        found = m_translators.emplace(code, std::move(translator)).first;
    }
    return found->second.get();
}

std::string QtFileFilter(const std::string& filter, int filterIndex, std::string* selected) {
    std::vector<std::string> entries;
    if (!filter.empty()) {
        const std::vector<std::string> parts = Split(filter, '|');
        for (std::size_t i = 0; i < parts.size(); i += 2) {
            const std::string& desc = parts[i];
            std::string patterns;
            if (i + 1 < parts.size()) {
                for (const std::string& p : Split(parts[i + 1], ';')) {
                    if (p.empty()) continue;
                    if (!patterns.empty()) patterns += ' ';
                    patterns += p;
                }
            }
            if (patterns.empty() || EndsWith(desc, "(" + patterns + ")")) {
                entries.push_back(desc);
            } else {
                entries.push_back(desc + " (" + patterns + ")");
            }
        }
    }
    std::string joined;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) joined += ";;";
        joined += entries[i];
    }
    if (selected != nullptr) {
        selected->clear();
        if (!entries.empty()) {
            const bool inRange =
                filterIndex >= 1 && filterIndex <= static_cast<int>(entries.size());
            *selected = entries[inRange ? filterIndex - 1 : 0];
        }
    }
    return joined;
}

MsgResult QtUiServices::MsgBox(const std::string& prompt, MsgIcon icon, MsgButtons buttons,
                               const std::string& title) {
    if (!HaveWidgetApplication()) return m_console.MsgBox(prompt, icon, buttons, title);

    QString text = ToQt(prompt);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const TranslatorInFront translation(translatorForLanguage());
    QMessageBox box(ToQtIcon(icon),
                    title.empty() ? QApplication::applicationDisplayName() : ToQt(title), text,
                    ToQtButtons(buttons), dialogParent());
    box.setTextFormat(Qt::PlainText);
    // A message must be readable even while a long handler shows the wait cursor.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int pressed = box.exec();
    QApplication::restoreOverrideCursor();
    switch (pressed) {
        case QMessageBox::Cancel:
            return MsgResult::Cancel;
        case QMessageBox::Yes:
            return MsgResult::Yes;
        case QMessageBox::No:
            return MsgResult::No;
        default:
            break;
    }
    // The close box of a question without Cancel answers its last button.
    if (buttons == MsgButtons::YesNo && pressed != QMessageBox::Ok) return MsgResult::No;
    if (buttons == MsgButtons::OkCancel && pressed != QMessageBox::Ok) return MsgResult::Cancel;
    return MsgResult::Ok;
}

void QtUiServices::Beep() {
    if (HaveWidgetApplication()) QApplication::beep();
}

void QtUiServices::SetBusyPointer(bool busy) {
    if (busy) {
        ++m_busyDepth;
        if (HaveWidgetApplication()) QApplication::setOverrideCursor(Qt::WaitCursor);
        return;
    }
    if (m_busyDepth == 0) return;
    --m_busyDepth;
    if (HaveWidgetApplication()) QApplication::restoreOverrideCursor();
}

std::optional<std::string> QtUiServices::AskOpenFile(const std::string& title,
                                                     const std::string& filter, int filterIndex) {
    if (!HaveWidgetApplication()) return m_console.AskOpenFile(title, filter, filterIndex);
    return askFile(title, filter, filterIndex, &QFileDialog::getOpenFileName);
}

std::optional<std::string> QtUiServices::AskSaveFile(const std::string& title,
                                                     const std::string& filter, int filterIndex) {
    if (!HaveWidgetApplication()) return std::nullopt;
    return askFile(title, filter, filterIndex, &QFileDialog::getSaveFileName);
}

std::optional<std::size_t> QtUiServices::AskChoice(const std::string& title,
                                                   const std::string& prompt,
                                                   const std::vector<std::string>& items) {
    if (!HaveWidgetApplication() || items.empty()) return std::nullopt;
    QStringList list;
    for (const std::string& item : items) list << ToQt(item);
    const TranslatorInFront translation(translatorForLanguage());
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    bool ok = false;
    const QString chosen =
        QInputDialog::getItem(dialogParent(), ToQt(title), ToQt(prompt), list, 0, false, &ok);
    QApplication::restoreOverrideCursor();
    if (!ok) return std::nullopt;
    const auto index = list.indexOf(chosen);
    if (index < 0) return std::nullopt;
    return static_cast<std::size_t>(index);
}

std::optional<std::string> QtUiServices::askFile(const std::string& title,
                                                 const std::string& filter, int filterIndex,
                                                 FileDialogFn dialog) {
    std::string selected;
    const std::string qtFilter = QtFileFilter(filter, filterIndex, &selected);
    QString selectedFilter = ToQt(selected);
    const TranslatorInFront translation(translatorForLanguage());
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const QString file =
        dialog(dialogParent(), ToQt(title), QString(), ToQt(qtFilter), &selectedFilter, {});
    QApplication::restoreOverrideCursor();
    if (file.isEmpty()) return std::nullopt;
    return file.toStdString();
}

}  // namespace vark
