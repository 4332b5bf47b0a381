#pragma once
// The wizard window: four pages (workspaces, copy details, CD options, zip options), the
// button rules and navigation, the workspace list, the path and zip-name fields, and the
// settings file. The window mirrors one analysis::CopyFormState: its lists show the state's
// lists, its check boxes and fields write the state's options.
#include <QDialog>
#include <memory>
#include <string>

#include <vector>

#include "analysis/Analysis.h"
#include "analysis/CopyFormState.h"

#include "zip/ZipArchiver.h"

class QFileDialog;

namespace Ui {
class TCopyForm;
}

namespace ui {

class TCopyForm : public QDialog {
    Q_OBJECT
public:
    // The section of the settings file and the names of the two files.
    static constexpr const char* kSection = "Copy Details";
    static constexpr const char* kSettingsFile = "Tallomir.INI";
    static constexpr const char* kMessageFile = "Tallomir.mes";

    // The creation handler: sets up the zip component, loads the settings, then shows
    // page 0 and runs the button rules, even after an error (which goes to the report).
    explicit TCopyForm(QWidget* parent = nullptr);
    ~TCopyForm() override;

    analysis::CopyFormState& State() { return m_state; }

    // The folder of the settings and message files, with a trailing '/': the program's
    // folder, or the folder named by TALLOMIR_SETTINGS_DIR when that is set.
    static std::string SettingsDir();
    // The target folder when the settings name none: the system's temporary folder
    // followed by "/Tallomir".
    static std::string DefaultPath();

    // ---- event handlers ------------------------------------------------------------------
    // The button rules; `sender` is the control that raised the event (or null).
    void acUpdateButtonsExecute(QObject* sender);
    // The refresh: re-reads the workspaces, rebuilds the table and graph lists and the
    // disk-space figure; the lists are mirrored even when it stops with an error.
    void acUpdateListExecute();
    void btnNextClick();
    void btnPreviousClick();
    void btnAddWorkSpaceClick();
    void btnRemoveWorkSpaceClick();
    // Appends a chosen workspace, unless the list holds it already (letter case ignored).
    void AddWorkSpace(const std::string& path);
    void edtPathExit();
    void edtZipExit();
    void btnDirClick();
    void btnZipClick();
    void btnCopyClick();
    void btnHelpClick();
    void btnExitClick();
    void lbTablesClick();
    void Label3Click();
    void Image2DblClick();

    // ---- the settings file ---------------------------------------------------------------
    // Loading: "Path", the seven flags (each change runs that box's click rules), the
    // message file, "ZipFile". Throws when the message file exists but cannot be read.
    void LoadSettings();
    // Saving, from "E&xit" only: stops silently at the first value that cannot be written.
    void SaveSettings();

    // True while a copy run is going on: the wizard's controls are disabled meanwhile.
    bool CopyRunning() const { return m_copyRunning; }

    // The zip component, with the design settings the zip packaging relies on; its file
    // list is the copy run's archive list.
    zip::TZipArchiver& Zip() { return m_zip; }

signals:
    // The window has closed (however): the program's message loop ends.
    void closed();

protected:
    // The close handler: releases MapInfo and unloads the zip engine. Refused during a run.
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Connect();
    void MirrorState();
    void MirrorInfo();
    void OptionsFromControls();
    void SetCopyRunning(bool running);
    // The analysis fills the table information of one table, which the hidden page mirrors.
    void TableInfo(int index);
    void ToggleTablesPage();

    std::unique_ptr<Ui::TCopyForm> m_ui;
    analysis::CopyFormState m_state;
    analysis::Analysis m_analysis{m_state};
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    bool m_inButtonRules = false;
    bool m_navigating = false;
    bool m_copyRunning = false;
    zip::TZipArchiver m_zip{this};
};

// The one wizard window, the program's main window.
extern TCopyForm* CopyForm;

}  // namespace ui
