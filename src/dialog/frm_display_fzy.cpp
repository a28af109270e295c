#include "dialog/frm_display_fzy.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>

#include "text_store/clsResourceMDB.h"
#include "ui_frm_display_fzy.h"

namespace vark {

frm_display_fzy::frm_display_fzy(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::frm_display_fzy>()) {
    m_ui->setupUi(this);
    setProperty("tag", QString::number(kDisplayFzyTitleText));
    m_ui->cmdQuit->setProperty("tag", QString::number(kDisplayFzyQuitText));
    m_ui->Txt_infofield->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    connect(m_ui->cmdQuit, &QPushButton::clicked, this, &frm_display_fzy::cmdQuit_Click);
    try {
        gTextStore().LoadFormLanguageText(this, false);
    } catch (...) {
        // The window opens with whatever captions it has.
    }
}

frm_display_fzy::~frm_display_fzy() = default;

void frm_display_fzy::setInfoText(const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    m_ui->Txt_infofield->setPlainText(shown);
}

std::string frm_display_fzy::infoText() const {
    return m_ui->Txt_infofield->toPlainText().toStdString();
}

void frm_display_fzy::cmdQuit_Click() {
    close();
}

QtDescriptionTarget::~QtDescriptionTarget() {
    // A target outliving the application (released at library unload) must
    // not touch widgets any more.
    if (QCoreApplication::instance() != nullptr) {
        delete m_window.data();
    }
}

frm_display_fzy& QtDescriptionTarget::window() {
    if (!m_window) {
        m_window = new frm_display_fzy();
        m_window->setAttribute(Qt::WA_DeleteOnClose);
    }
    return *m_window;
}

void QtDescriptionTarget::SetInfoText(const std::string& text) {
    window().setInfoText(text);
}

void QtDescriptionTarget::Show() {
    QPointer<frm_display_fzy> shown = &window();
    shown->exec();
    // exec() deletes a window that has WA_DeleteOnClose; one hidden another
    // way is destroyed here, so the next use starts empty.
    delete shown.data();
}

}  // namespace vark
