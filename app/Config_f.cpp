#include "app/Config_f.h"

#include <QCloseEvent>
#include <QFontDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <utility>

#include "app/Define.h"
#include "app/Entry.h"
#include "app/Settings.h"
#include "platform/SystemInfo.h"
#include "platform/Wintab.h"

namespace {

struct TokenButton {
    QRadioButton* TConfigForm::*button;
    const char* token;
};

// In the order the loading code tries them.
constexpr TokenButton kLanguageButtons[] = {
    {&TConfigForm::rbEnglish, "English"},   {&TConfigForm::rbHangul, "Korean"},
    {&TConfigForm::rbChinese, "Chinese"},   {&TConfigForm::rbTaiwanese, "Taiwanese"},
    {&TConfigForm::rbThai, "Thai"},         {&TConfigForm::rbJapanese, "Japanese"},
    {&TConfigForm::rbIndona, "Indonesian"},
};
constexpr TokenButton kSizeTypeButtons[] = {
    {&TConfigForm::TA4, "cstA4"},       {&TConfigForm::TA3, "cstA3"},
    {&TConfigForm::TA2, "cstA2"},       {&TConfigForm::TA1, "cstA1"},
    {&TConfigForm::TA0, "cstA0"},       {&TConfigForm::TLetter, "cstLetter"},
    {&TConfigForm::TLegal, "cstLegal"}, {&TConfigForm::TTabloid, "cstTabloid"},
};
constexpr TokenButton kUnitButtons[] = {
    {&TConfigForm::TCm, "uCm"},
    {&TConfigForm::TInch, "uInch"},
    {&TConfigForm::TDot, "uDot"},
};
constexpr TokenButton kSelectButtons[] = {
    {&TConfigForm::rbREAD, "READ"},
    {&TConfigForm::rbMERGE, "MERGE"},
};

// The token of the button that was clicked; the field is left alone when
// the sender is none of the table's buttons.
template <std::size_t N>
void TakeToken(const TConfigForm* form, QObject* sender, const TokenButton (&table)[N],
               std::string& field) {
    for (const TokenButton& b : table)
        if (sender == form->*b.button)
            field = b.token;
}

// Selects the button of a stored token, which fires its handler. A token
// outside the table selects nothing but the fallback (when there is one),
// quietly: the field keeps the stored text, so that O.K. writes it back
// unchanged.
template <std::size_t N>
void SelectToken(const TConfigForm* form, const TokenButton (&table)[N], const std::string& token,
                 QRadioButton* fallback) {
    for (const TokenButton& b : table) {
        if (token == b.token) {
            (form->*b.button)->setChecked(true);
            return;
        }
    }
    if (fallback) {
        QSignalBlocker quiet(fallback);
        fallback->setChecked(true);
    }
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QFont PixelFont(const QString& family, int pixels, bool bold) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel* Label(const char* name, const char* caption) {
    return Named(new QLabel(QString::fromUtf8(caption)), name);
}

QRadioButton* Radio(const char* name, const char* caption) {
    return Named(new QRadioButton(QString::fromUtf8(caption)), name);
}

QFrame* Panel(const char* name) {
    QFrame* panel = Named(new QFrame, name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    return panel;
}

}  // namespace

// ---- Construction ---------------------------------------------------------------

TConfigForm::TConfigForm(QWidget* parent) : QDialog(parent) {
    // 1. The window from the layout; the state starts empty.
    BuildLayout();
    ConnectHandlers();

    // 2 to 5: definitions, the installation folder, the platform, the folders.
    Define::InitializeDefinitions();
    velserin::LoadDefaultDirectory();
    FPlatformId = platform::PlatformId();
    const velserin::FolderChain chain = velserin::EnsureFolderChain();
    FCompanyFolder = chain.versionFolder;
    FSettingsFolder = chain.settingsFolder;

    // 6.
    LoadSettings();

    // 7. Packets are posted to this window from the moment the context opens.
    platform::InstallMessageHandler(this, [this](platform::WindowMessage& m) {
        if (m.Msg == platform::wintab::WT_PACKET)
            OnTabletPacket(m);
    });
    FTablet = std::make_unique<TTablet>();
    FTablet->Open(platform::WindowHandle(this));

    // 8.
    if (FTablet->IsOpen()) {
        PageControl1->setTabEnabled(PageControl1->indexOf(tsTablet), true);
        lbName->setText(QStringLiteral("Name : ") + Q(FTablet->GetDeviceName()));
        lbMaximum->setText(QStringLiteral("Maximum : ") + QString::number(FTablet->FMaxPressure));
        FMaxNPressure = velserin::ReadMaxNPressure(std::uint32_t(FTablet->FMaxPressure));
        lbCurrent->setText(QStringLiteral("Current : ") + QString::number(FMaxNPressure));
    }

    // 9 and 10.
    velserin::ConfigSettings s;
    velserin::LoadSizeTypeAndUnits(&s);
    FSizeType = s.sizeType;
    FUnits = s.units;
    SelectToken(this, kSizeTypeButtons, FSizeType, TA4);
    SelectToken(this, kUnitButtons, FUnits, TCm);

    FormCreate(this);
}

TConfigForm::~TConfigForm() {
    FormDestroy(this);
}

void TConfigForm::BuildLayout() {
    setObjectName(QStringLiteral("ConfigForm"));
    setWindowTitle(QStringLiteral("Configuration"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    setFont(PixelFont(QStringLiteral("Verdana"), 13, true));
    const QFont regular = PixelFont(QStringLiteral("Verdana"), 13, false);

    lbVersion = Label("lbVersion", "Version : ");

    PageControl1 = Named(new QTabWidget, "PageControl1");
    PageControl1->setFont(regular);
    PageControl1->setFixedSize(600, 265);

    // Directory
    tsDirectory = Named(new QWidget, "tsDirectory");
    {
        edColor = Named(new QLineEdit, "edColor");
        stFont = Named(new QLabel, "stFont");
        stFont->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        stFont->setMinimumHeight(24);
        FontButton = Named(new QPushButton(QStringLiteral("...")), "FontButton");
        FontButton->setFixedWidth(32);
        auto* grid = new QGridLayout(tsDirectory);
        grid->setContentsMargins(16, 20, 16, 16);
        grid->setHorizontalSpacing(12);
        grid->setVerticalSpacing(16);
        grid->addWidget(Label("lbColor", "Color"), 0, 0);
        grid->addWidget(edColor, 0, 1, 1, 2);
        grid->addWidget(Label("lbFont", "Font"), 1, 0);
        grid->addWidget(stFont, 1, 1);
        grid->addWidget(FontButton, 1, 2);
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(2, 1);
    }

    // Language
    tsLanguage = Named(new QWidget, "tsLanguage");
    {
        rbChinese = Radio("rbChinese", "Chinese");
        rbEnglish = Radio("rbEnglish", "English");
        rbIndona = Radio("rbIndona", "Indonesian");
        rbJapanese = Radio("rbJapanese", "Japanese");
        rbHangul = Radio("rbHangul", "Korean");
        rbTaiwanese = Radio("rbTaiwanese", "Taiwanese");
        rbThai = Radio("rbThai", "Thai");
        auto* grid = new QGridLayout(tsLanguage);
        grid->setContentsMargins(40, 20, 40, 16);
        grid->setVerticalSpacing(14);
        grid->addWidget(rbChinese, 0, 0);
        grid->addWidget(rbEnglish, 1, 0);
        grid->addWidget(rbIndona, 2, 0);
        grid->addWidget(rbJapanese, 3, 0);
        grid->addWidget(rbHangul, 0, 1);
        grid->addWidget(rbTaiwanese, 1, 1);
        grid->addWidget(rbThai, 2, 1);
        grid->setRowStretch(4, 1);
        rbEnglish->setChecked(true);
        QWidget::setTabOrder(rbEnglish, rbHangul);
        QWidget::setTabOrder(rbHangul, rbTaiwanese);
        QWidget::setTabOrder(rbTaiwanese, rbChinese);
        QWidget::setTabOrder(rbChinese, rbThai);
        QWidget::setTabOrder(rbThai, rbJapanese);
        QWidget::setTabOrder(rbJapanese, rbIndona);
    }

    // Tablet
    tsTablet = Named(new QWidget, "tsTablet");
    {
        lbName = Label("lbName", "Name : None");
        gbMaxNPressure =
            Named(new QGroupBox(QStringLiteral(" Max Normal Pressure ")), "gbMaxNPressure");
        lbMaximum = Label("lbMaximum", "Maximum :");
        lbCurrent = Label("lbCurrent", "Current");
        btnReset = Named(new QPushButton(QStringLiteral("Reset")), "btnReset");
        pnTablet = Named(new QFrame, "pnTablet");
        pnTablet->setFrameStyle(QFrame::Box | QFrame::Plain);
        pnTablet->setFixedSize(289, 121);

        auto* left = new QVBoxLayout;
        left->setSpacing(10);
        left->addWidget(lbMaximum);
        left->addWidget(lbCurrent);
        left->addWidget(btnReset, 0, Qt::AlignLeft);
        left->addStretch(1);
        auto* group = new QHBoxLayout(gbMaxNPressure);
        group->setContentsMargins(12, 12, 12, 12);
        group->addLayout(left, 1);
        group->addWidget(pnTablet, 0, Qt::AlignRight | Qt::AlignVCenter);

        auto* page = new QVBoxLayout(tsTablet);
        page->setContentsMargins(16, 12, 16, 12);
        page->setSpacing(10);
        page->addWidget(lbName);
        page->addWidget(gbMaxNPressure);
        page->addStretch(1);
    }

    // SizeType / DPI
    SizeType = Named(new QWidget, "SizeType");
    {
        TA4 = Radio("TA4", "A4");
        TA3 = Radio("TA3", "A3");
        TA2 = Radio("TA2", "A2");
        TA1 = Radio("TA1", "A1");
        TA0 = Radio("TA0", "A0");
        TLetter = Radio("TLetter", "Letter");
        TLegal = Radio("TLegal", "Legal");
        TTabloid = Radio("TTabloid", "Tabloid");
        QFrame* panel = Panel("pnSizeType");
        auto* grid = new QGridLayout(panel);
        grid->setContentsMargins(20, 12, 20, 12);
        grid->setHorizontalSpacing(30);
        grid->setVerticalSpacing(10);
        QRadioButton* const order[] = {TA4, TA3, TA2, TA1, TA0, TLetter, TLegal, TTabloid};
        for (int i = 0; i < 8; ++i)
            grid->addWidget(order[i], i % 4, i / 4);
        TA4->setChecked(true);

        lbDPI = Label("lbDPI", "DPI");
        lbDPI->setFont(PixelFont(QStringLiteral("MS Sans Serif"), 24, false));
        TDPI = Named(new QSpinBox, "TDPI");
        TDPI->setRange(velserin::kMinimumDPI, velserin::kMaximumDPI);
        TDPI->setSingleStep(1);
        TDPI->setValue(velserin::kDefaultDPI);
        TDPI->setMinimumWidth(90);

        auto* dpi = new QVBoxLayout;
        dpi->addStretch(1);
        dpi->addWidget(lbDPI, 0, Qt::AlignHCenter);
        dpi->addWidget(TDPI);
        dpi->addStretch(1);
        auto* page = new QHBoxLayout(SizeType);
        page->setContentsMargins(16, 16, 16, 16);
        page->setSpacing(30);
        page->addWidget(panel, 1);
        page->addLayout(dpi);
        page->addStretch(1);
    }

    // MainImage
    rbUnit = Named(new QWidget, "rbUnit");
    {
        TCm = Radio("TCm", "Cm");
        TInch = Radio("TInch", "Inch");
        TDot = Radio("TDot", "Dot");
        QFrame* panel = Panel("pnUnit");
        auto* row = new QHBoxLayout(panel);
        row->setContentsMargins(16, 12, 16, 12);
        row->setSpacing(24);
        row->addWidget(Label("lbUnit", "Unit : "));
        row->addWidget(TCm);
        row->addWidget(TInch);
        row->addWidget(TDot);
        row->addStretch(1);
        TCm->setChecked(true);
        auto* page = new QVBoxLayout(rbUnit);
        page->setContentsMargins(16, 20, 16, 16);
        page->addWidget(panel);
        page->addStretch(1);
    }

    // FileOpen
    FileOpen = Named(new QWidget, "FileOpen");
    {
        edVelSerinOpen = Named(new QLineEdit, "edVelSerinOpen");
        rbREAD = Radio("rbREAD", "READ");
        rbMERGE = Radio("rbMERGE", "MERGE");
        QFrame* panel = Panel("pnSelect");
        auto* row = new QHBoxLayout(panel);
        row->setContentsMargins(16, 8, 16, 8);
        row->setSpacing(24);
        row->addWidget(rbREAD);
        row->addWidget(rbMERGE);
        row->addStretch(1);
        rbREAD->setChecked(true);
        auto* grid = new QGridLayout(FileOpen);
        grid->setContentsMargins(16, 20, 16, 16);
        grid->setHorizontalSpacing(12);
        grid->setVerticalSpacing(16);
        grid->addWidget(Label("lbVelSerinOpen", "VelSerinOpen"), 0, 0);
        grid->addWidget(edVelSerinOpen, 0, 1);
        grid->addWidget(Label("lbVelSerinSelect", "VelSerin SELECT"), 1, 0);
        grid->addWidget(panel, 1, 1);
        grid->setColumnStretch(1, 1);
        grid->setRowStretch(2, 1);
    }

    PageControl1->addTab(tsDirectory, QStringLiteral("Directory"));
    PageControl1->addTab(tsLanguage, QStringLiteral("Language"));
    PageControl1->addTab(tsTablet, QStringLiteral("Tablet"));
    PageControl1->addTab(SizeType, QStringLiteral("SizeType / DPI"));
    PageControl1->addTab(rbUnit, QStringLiteral("MainImage"));
    PageControl1->addTab(FileOpen, QStringLiteral("FileOpen"));
    PageControl1->setTabEnabled(PageControl1->indexOf(tsTablet), false);
    PageControl1->setCurrentWidget(tsDirectory);
    for (QWidget* page : {tsDirectory, tsLanguage, tsTablet, SizeType, rbUnit, FileOpen})
        page->setFont(regular);

    btOK = Named(new QPushButton(QStringLiteral("O.K")), "btOK");
    btCancel = Named(new QPushButton(QStringLiteral("Cancel")), "btCancel");
    for (QPushButton* b : {btOK, btCancel}) {
        b->setFont(regular);
        b->setMinimumWidth(90);
    }
    btOK->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btOK);
    buttons->addWidget(btCancel);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(10, 10, 10, 10);
    main->setSpacing(8);
    main->addWidget(lbVersion);
    main->addWidget(PageControl1);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);

    FontDialog = Named(new QFontDialog(this), "FontDialog");
    FontDialog->setOption(QFontDialog::DontUseNativeDialog);
    FontDialog->setCurrentFont(PixelFont(QStringLiteral("MS Sans Serif"), 11, false));

    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TConfigForm::ConnectHandlers() {
    // A radio button's handler runs whenever it becomes selected, by the
    // user or by the loading code, and only then.
    auto attach = [this](const auto& table, void (TConfigForm::*handler)(QObject*)) {
        for (const TokenButton& b : table) {
            QRadioButton* button = this->*b.button;
            connect(button, &QRadioButton::toggled, this, [this, button, handler](bool on) {
                if (on)
                    (this->*handler)(button);
            });
        }
    };
    attach(kLanguageButtons, &TConfigForm::rbLanguageClick);
    attach(kSizeTypeButtons, &TConfigForm::rbSizeType);
    attach(kUnitButtons, &TConfigForm::rbUnits);
    attach(kSelectButtons, &TConfigForm::rbSelect);

    connect(FontButton, &QPushButton::clicked, this, [this] { FontButtonClick(FontButton); });
    connect(btnReset, &QPushButton::clicked, this, [this] { btnResetClick(btnReset); });
    connect(btOK, &QPushButton::clicked, this, [this] { Guarded([this] { btOKClick(btOK); }); });
    connect(btCancel, &QPushButton::clicked, this, [this] { btCancelClick(btCancel); });
}

template <typename F>
void TConfigForm::Guarded(F&& f) {
    try {
        std::forward<F>(f)();
    } catch (...) {
        velserin::ShowCurrentException();
    }
}

std::string TConfigForm::StatusFile() const {
    return FSettingsFolder + "/" + velserin::kStatusFileName;
}

void TConfigForm::LoadSettings() {
    velserin::ConfigSettings s;
    // "DPI" is read by DPI() below, at the end of the batch.
    velserin::LoadRegistrySettings(&s, FPlatformId);

    FLanguage = s.language;
    SelectToken(this, kLanguageButtons, FLanguage, nullptr);
    FUnits = s.units;
    SelectToken(this, kUnitButtons, FUnits, TCm);
    FSelect = s.select;
    SelectToken(this, kSelectButtons, FSelect, nullptr);

    FFontName = s.fontName;
    stFont->setText(Q(FFontName));
    QFont font = FontDialog->currentFont();
    font.setFamily(Q(FFontName));
    FontDialog->setCurrentFont(font);

    lbVersion->setText(QStringLiteral("Version : VelSerin Design CAD ") + Q(Define::SuiteVersion));
    edColor->setText(Q(s.colorFolder));
    edVelSerinOpen->setText(Q(s.openFolder));
    DPI();
}

// ---- Handlers ---------------------------------------------------------------------

void TConfigForm::FormCreate(QObject*) {}

void TConfigForm::FormDestroy(QObject*) {
    // Closes the context and unloads the driver before the window goes.
    FTablet.reset();
}

void TConfigForm::rbLanguageClick(QObject* Sender) {
    TakeToken(this, Sender, kLanguageButtons, FLanguage);
}

void TConfigForm::rbSizeType(QObject* Sender) {
    TakeToken(this, Sender, kSizeTypeButtons, FSizeType);
}

void TConfigForm::rbUnits(QObject* Sender) {
    TakeToken(this, Sender, kUnitButtons, FUnits);
}

void TConfigForm::rbSelect(QObject* Sender) {
    TakeToken(this, Sender, kSelectButtons, FSelect);
}

void TConfigForm::FontButtonClick(QObject* Sender) {
    if (Sender != FontButton)
        return;
    QFont font = FontDialog->currentFont();
    font.setFamily(Q(FFontName));
    FontDialog->setCurrentFont(font);
    if (FontDialog->exec() != QDialog::Accepted)
        return;
    const QString family = FontDialog->selectedFont().family();
    if (family.isEmpty())
        return;
    FFontName = family.toStdString();
    stFont->setText(family);
}

void TConfigForm::btnResetClick(QObject* Sender) {
    if (Sender != btnReset)
        return;
    FMaxNPressure = 0;
    lbCurrent->setText(QStringLiteral("Current : ") + QString::number(FMaxNPressure));
}

void TConfigForm::btOKClick(QObject* Sender) {
    if (Sender != btOK)
        return;
    // A number still being typed counts as entered.
    TDPI->interpretText();
    velserin::ConfigSettings s;
    s.language = FLanguage;
    s.fontName = FFontName;
    s.maxNPressure = FMaxNPressure;
    s.sizeType = FSizeType;
    s.units = FUnits;
    s.select = FSelect;
    s.colorFolder = edColor->text().toStdString();
    s.openFolder = edVelSerinOpen->text().toStdString();
    velserin::SaveSettings(s);
    TDPIChange(TDPI);
    close();
}

void TConfigForm::btCancelClick(QObject* Sender) {
    if (Sender != btCancel)
        return;
    close();
}

void TConfigForm::DPI() {
    TDPI->setValue(velserin::ReadDPI(StatusFile()));
}

void TConfigForm::TDPIChange(QObject*) {
    velserin::WriteDPI(StatusFile(), TDPI->value());
}

void TConfigForm::OnTabletPacket(platform::WindowMessage& Message) {
    if (!FTablet)
        return;
    FTablet->ReadPacket(Message);
    if (PageControl1->currentWidget() != tsTablet || !tsTablet->isEnabled())
        return;
    const QPoint p = pnTablet->mapFromGlobal(QPoint(FTablet->FX, FTablet->FY));
    if (p.x() < 0 || p.x() >= pnTablet->width() || p.y() < 0 || p.y() >= pnTablet->height())
        return;
    if (FTablet->FPressure > FMaxNPressure) {
        FMaxNPressure = FTablet->FPressure;
        lbCurrent->setText(QStringLiteral("Current : ") + QString::number(FMaxNPressure));
    }
}

// ---- Closing ----------------------------------------------------------------------

void TConfigForm::closeEvent(QCloseEvent* event) {
    // The close box writes nothing; QDialog's own handling would go through
    // reject(), which here stands for the Cancel button.
    event->accept();
}

void TConfigForm::reject() {
    btCancel->click();
}

void TConfigForm::accept() {
    close();
}
