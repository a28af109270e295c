#pragma once

// The description window: shows the recorded description of a criterion
// field, as the criterion file's readers write it. One shared instance at a
// time, created on first use and destroyed when closed, so each use after a
// close starts with an empty text box.

#include <QDialog>
#include <QPointer>
#include <memory>
#include <string>

#include "criterion_file/fzy_io.h"

namespace Ui {
class frm_display_fzy;
}

namespace vark {

/// Text numbers of the window's title and of its button's caption.
inline constexpr int kDisplayFzyTitleText = 169;
inline constexpr int kDisplayFzyQuitText = 170;

class frm_display_fzy : public QDialog {
    Q_OBJECT

public:
    /// Builds the window and loads its captions in the current language; a
    /// failure of the text store leaves the design captions.
    explicit frm_display_fzy(QWidget* parent = nullptr);
    ~frm_display_fzy() override;

    /// The text of Txt_infofield (CR LF and LF both start a new line).
    void setInfoText(const std::string& text);
    std::string infoText() const;
    Ui::frm_display_fzy& ui() { return *m_ui; }

public slots:
    void cmdQuit_Click();

private:
    std::unique_ptr<Ui::frm_display_fzy> m_ui;
};

/// The description target backed by frm_display_fzy: writing the text
/// creates the shared instance when there is none; showing runs it modally
/// (creating it empty when needed) and destroys it when the user closes it.
class QtDescriptionTarget : public DescriptionTarget {
public:
    ~QtDescriptionTarget() override;
    void SetInfoText(const std::string& text) override;
    void Show() override;
    /// The shared instance, nullptr when not loaded.
    frm_display_fzy* instance() const { return m_window.data(); }

private:
    frm_display_fzy& window();
    QPointer<frm_display_fzy> m_window;
};

}  // namespace vark
