#pragma once
// The configuration dialog: the utility's only window. Creating it does the
// whole start-up work (definitions, folders, every setting, the pen tablet);
// O.K. writes every setting back and closes it; Cancel, Escape or the close
// box close it without writing.

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "app/Tablet.h"
#include "platform/WindowMessages.h"

class QFontDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QWidget;

class TConfigForm : public QDialog {
  public:
    // Throws what the start-up reads throw (velserin::SettingsError): the
    // dialog is then never shown.
    explicit TConfigForm(QWidget* parent = nullptr);
    ~TConfigForm() override;
    TConfigForm(const TConfigForm&) = delete;
    TConfigForm& operator=(const TConfigForm&) = delete;

    // ---- Controls ----
    QLabel* lbVersion = nullptr;
    QTabWidget* PageControl1 = nullptr;

    QWidget* tsDirectory = nullptr;
    QLineEdit* edColor = nullptr;
    QLabel* stFont = nullptr;
    QPushButton* FontButton = nullptr;

    QWidget* tsLanguage = nullptr;
    QRadioButton* rbChinese = nullptr;
    QRadioButton* rbEnglish = nullptr;
    QRadioButton* rbIndona = nullptr;
    QRadioButton* rbJapanese = nullptr;
    QRadioButton* rbHangul = nullptr;
    QRadioButton* rbTaiwanese = nullptr;
    QRadioButton* rbThai = nullptr;

    QWidget* tsTablet = nullptr;
    QLabel* lbName = nullptr;
    QGroupBox* gbMaxNPressure = nullptr;
    QLabel* lbMaximum = nullptr;
    QLabel* lbCurrent = nullptr;
    QPushButton* btnReset = nullptr;
    QFrame* pnTablet = nullptr;

    QWidget* SizeType = nullptr;
    QRadioButton* TA4 = nullptr;
    QRadioButton* TA3 = nullptr;
    QRadioButton* TA2 = nullptr;
    QRadioButton* TA1 = nullptr;
    QRadioButton* TA0 = nullptr;
    QRadioButton* TLetter = nullptr;
    QRadioButton* TLegal = nullptr;
    QRadioButton* TTabloid = nullptr;
    QLabel* lbDPI = nullptr;
    QSpinBox* TDPI = nullptr;

    QWidget* rbUnit = nullptr;
    QRadioButton* TCm = nullptr;
    QRadioButton* TInch = nullptr;
    QRadioButton* TDot = nullptr;

    QWidget* FileOpen = nullptr;
    QLineEdit* edVelSerinOpen = nullptr;
    QRadioButton* rbREAD = nullptr;
    QRadioButton* rbMERGE = nullptr;

    QPushButton* btOK = nullptr;
    QPushButton* btCancel = nullptr;

    QFontDialog* FontDialog = nullptr;

    // ---- Handlers ----
    void FormCreate(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void rbLanguageClick(QObject* Sender);
    void rbSizeType(QObject* Sender);
    void rbUnits(QObject* Sender);
    void rbSelect(QObject* Sender);
    void FontButtonClick(QObject* Sender);
    void btnResetClick(QObject* Sender);
    // Throws what the writes throw; the dialog then stays open.
    void btOKClick(QObject* Sender);
    void btCancelClick(QObject* Sender);
    void DPI();
    void TDPIChange(QObject* Sender);
    void OnTabletPacket(platform::WindowMessage& Message);

    // ---- State, read-only for the tests and the entry ----
    const std::string& Language() const { return FLanguage; }
    const std::string& FontName() const { return FFontName; }
    const std::string& Units() const { return FUnits; }
    const std::string& Select() const { return FSelect; }
    const std::string& SizeTypeToken() const { return FSizeType; }
    std::uint32_t MaxNPressure() const { return FMaxNPressure; }
    const std::string& CompanyFolder() const { return FCompanyFolder; }
    const std::string& SettingsFolder() const { return FSettingsFolder; }
    const TTablet* Tablet() const { return FTablet.get(); }
    std::uint32_t PlatformIdValue() const { return FPlatformId; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Escape: the dialog's Cancel button.
    void reject() override;
    // Never reached through a button of ours; closes as Cancel does.
    void accept() override;

  private:
    void BuildLayout();
    void ConnectHandlers();
    void LoadSettings();
    std::string StatusFile() const;
    // Runs a handler that may throw: the exception is shown and the dialog
    // goes on, as the application does for any event handler.
    template <typename F>
    void Guarded(F&& f);

    std::string FLanguage;
    std::string FFontName;
    std::string FUnits;
    std::string FSelect;
    std::string FSizeType;
    std::uint32_t FMaxNPressure = 0;
    std::string FCompanyFolder;
    std::string FSettingsFolder;
    std::unique_ptr<TTablet> FTablet;
    std::uint32_t FPlatformId = 0;
};
