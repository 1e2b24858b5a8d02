#include "ui/SearchFormUnit.h"

#include "device/DeviceUnit.h"
#include "model/Errors.h"
#include "model/FindIPUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Utils.h"
#include "ui/Forms.h"

#include <QFocusEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {
constexpr int kRowHeight = 15;

// The widest line a search can list; it sizes the lists.
const QString kSampleRow = QStringLiteral("255.255.255.255 XKV-40 [XXXXX] [XXXXX]");

// An address field that reports when it has lost the focus, after it has finished losing it,
// so that the window can take the focus back without leaving the field half-deactivated.
class TAddressEdit : public QLineEdit {
public:
    TAddressEdit(const QString& text, QWidget* parent) : QLineEdit(text, parent) {}
    std::function<void(Qt::FocusReason)> OnExit;

protected:
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        if (OnExit)
            OnExit(event->reason());
    }
};

// Rows of a fixed height, whatever the font.
class TFixedRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(kRowHeight);
        return size;
    }
};

QFont FixedPitchFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    return font;
}

} // namespace

bool IsAddressNumber(const QString& text) {
    try {
        const int value = StrToInt(text);
        return value >= 0 && value <= 255;
    } catch (const EConvertError&) {
        return false;
    }
}

TDevice* AddFoundAmplifier(TGroups& registry, const TFoundDevice& found) {
    TGroup* group = registry.FindGroup(found.GroupCode);
    if (!group) {
        const QString code = WithoutTrailingBlanks(found.GroupCode);
        group = registry.FindOrAddGroup(code, code);
        // The group is new and empty: these only store, and the device below takes them. The
        // device adds the global volume to its volumes, so the group holds them without it.
        group->SetVolume_A(found.Volume_A - registry.Volume());
        group->SetVolume_B(found.Volume_B - registry.Volume());
        group->SetSensitivity_A(found.Sensitivity_A);
        group->SetSensitivity_B(found.Sensitivity_B);
        group->SetLimiter_A(found.Limiter_A);
        group->SetLimiter_B(found.Limiter_B);
    }
    return new TDevice(group, found.IPAddress, QStringLiteral("No description"), found.DeviceName,
                       found.Mute_A, found.Mute_B);
}

TSearchForm::TSearchForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), FSearch(std::make_unique<TDeviceSearch>()) {
    setWindowTitle(QStringLiteral("Device Search"));
    BuildLayout();
    connect(FSearch.get(), &TDeviceSearch::Probing, this, [this](const QString& address) {
        StatusBar1->showMessage(QStringLiteral("Searching: ") + address);
    });
    connect(FSearch.get(), &TDeviceSearch::Found, this, &TSearchForm::ShowFound);
    connect(FSearch.get(), &TDeviceSearch::Finished, this, &TSearchForm::SearchFinished);
    resize(352, 478);
    ListBox1->clear();
    CheckListBox1->clear();
    RefreshEndAddress();
}

TSearchForm::~TSearchForm() {
    // The fields outlive this part of the window while the base class deletes its children, and
    // the focused one still reports losing the focus: nothing may call back into it by then.
    for (QLineEdit* field : AddressFields()) {
        static_cast<TAddressEdit*>(field)->OnExit = nullptr;
        field->disconnect(this);
    }
}

void TSearchForm::BuildLayout() {
    const QFont fixed = FixedPitchFont();
    const int fieldWidth = QFontMetrics(fixed).horizontalAdvance(QStringLiteral("000")) + 8;

    auto makeField = [&](const QString& text) {
        auto* field = new TAddressEdit(text, this);
        field->setFont(fixed);
        field->setMaxLength(3);
        field->setFixedWidth(fieldWidth);
        return field;
    };
    auto* start = new QGridLayout;
    start->setHorizontalSpacing(2);
    Label1 = new QLabel(QStringLiteral("Start address:"), this);
    Label2 = new QLabel(QStringLiteral("End address:"), this);
    for (QLabel* label : {Label1, Label2})
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    start->addWidget(Label1, 0, 0);
    start->addWidget(Label2, 1, 0);

    const std::array<QString, 4> defaults{QStringLiteral("192"), QStringLiteral("168"), QStringLiteral("1"),
                                          QStringLiteral("110")};
    const std::array<QLineEdit**, 4> startFields{&Edit1, &Edit2, &Edit3, &Edit4};
    const std::array<QLineEdit**, 4> endFields{&Edit8, &Edit7, &Edit6, &Edit5};
    for (int i = 0; i < 4; ++i) {
        *startFields[size_t(i)] = makeField(defaults[size_t(i)]);
        *endFields[size_t(i)] = makeField(i < 3 ? QStringLiteral("123") : QStringLiteral("120"));
        start->addWidget(*startFields[size_t(i)], 0, 1 + 2 * i);
        start->addWidget(*endFields[size_t(i)], 1, 1 + 2 * i);
        if (i < 3)
            for (int row = 0; row < 2; ++row)
                start->addWidget(new QLabel(QStringLiteral("."), this), row, 2 + 2 * i);
    }
    for (QLineEdit* copy : {Edit8, Edit7, Edit6})
        copy->setEnabled(false);

    Button1 = new QPushButton(QStringLiteral("Search"), this);
    Button1->setFixedSize(97, 65);
    auto* top = new QHBoxLayout;
    top->addLayout(start);
    top->addStretch(1);
    top->addWidget(Button1);

    const int listWidth = QFontMetrics(fixed).horizontalAdvance(kSampleRow) + 40;
    auto makeList = [&] {
        auto* list = new QListWidget(this);
        list->setFont(fixed);
        list->setItemDelegate(new TFixedRowDelegate(list));
        list->setUniformItemSizes(true);
        list->setMinimumWidth(listWidth);
        return list;
    };
    Label9 = new QLabel(QStringLiteral("Devices in use"), this);
    ListBox1 = makeList();
    Label10 = new QLabel(QStringLiteral("New devices"), this);
    CheckListBox1 = makeList();
    Button2 = new QPushButton(QStringLiteral("Add selected to device tree"), this);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);

    auto* content = new QVBoxLayout;
    content->setContentsMargins(8, 8, 8, 4);
    content->addLayout(top);
    content->addSpacing(6);
    content->addWidget(Label9);
    content->addWidget(ListBox1, 1);
    content->addWidget(Label10);
    content->addWidget(CheckListBox1, 2);
    content->addWidget(Button2);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addLayout(content);
    root->addWidget(StatusBar1);

    for (QLineEdit* field : AddressFields()) {
        connect(field, &QLineEdit::textChanged, this, [this, field] { EditChange(field); });
        static_cast<TAddressEdit*>(field)->OnExit = [this, field](Qt::FocusReason reason) {
            EditExit(field, reason);
        };
    }
    connect(Button1, &QPushButton::clicked, this, &TSearchForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TSearchForm::Button2Click);
}

QList<QLineEdit*> TSearchForm::AddressFields() const {
    return {Edit1, Edit2, Edit3, Edit4, Edit5};
}

bool TSearchForm::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(event);
}

void TSearchForm::showEvent(QShowEvent* event) {
    if (!FPlaced) {
        FPlaced = true;
        if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QWidget::showEvent(event);
}

void TSearchForm::hideEvent(QHideEvent* event) {
    // Being minimised is not being closed; only a real close or hide ends a running search.
    if (!event->spontaneous() && FSearching)
        FSearch->Stop();
    QWidget::hideEvent(event);
}

void TSearchForm::FormActivate() {
    RefreshEndAddress();
}

void TSearchForm::RefreshEndAddress() {
    Edit8->setText(Edit1->text());
    Edit7->setText(Edit2->text());
    Edit6->setText(Edit3->text());
}

void TSearchForm::EditChange(QLineEdit* field) {
    if (IsAddressNumber(field->text())) {
        field->setPalette(QPalette());
    } else {
        QPalette red;
        red.setColor(QPalette::Base, Qt::red);
        field->setPalette(red);
    }
    RefreshEndAddress();
}

void TSearchForm::EditExit(QLineEdit* field, Qt::FocusReason reason) {
    // Only focus moving to another control of this window counts as leaving the field; the
    // window losing activation, a pop-up or a message box must not be fought.
    const bool withinWindow = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                              reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason ||
                              reason == Qt::OtherFocusReason;
    if (withinWindow && isVisible() && !IsAddressNumber(field->text()))
        field->setFocus(Qt::OtherFocusReason);
}

void TSearchForm::Button1Click() {
    try {
        Search();
    } catch (const EFadelinkError& error) {
        ShowErrorMessage(this, error.Message);
    }
}

void TSearchForm::Button2Click() {
    AddSelected();
}

void TSearchForm::Search() {
    if (FSearching)
        return;
    ListBox1->clear();
    CheckListBox1->clear();
    StatusBar1->clearMessage();
    const int first = StrToInt(Edit4->text());
    const int last = StrToInt(Edit5->text());
    if (last < first)
        return;
    const std::array<int, 3> prefix{StrToInt(Edit1->text()), StrToInt(Edit2->text()),
                                    StrToInt(Edit3->text())};
    // A number outside 0 ... 255 is already shown red; probing it would make the probe look the
    // text up as a host name. The address is built from the numbers, not the typed texts, so
    // that " 1" or "+1" never reach a name look-up and "010" is listed and compared as "10".
    const QList<QLineEdit*> fields = AddressFields();
    const auto invalid = std::find_if(fields.begin(), fields.end(),
                                      [](const QLineEdit* field) { return !IsAddressNumber(field->text()); });
    if (invalid != fields.end()) {
        (*invalid)->setFocus(Qt::OtherFocusReason);
        return;
    }

    FSearch->Start(SearchAddresses(prefix, first, last));
    SetSearching(true);
}

void TSearchForm::SetSearching(bool on) {
    FSearching = on;
    Button1->setEnabled(!on);
    Button2->setEnabled(!on);
}

void TSearchForm::SetRegistry(TGroups* registry) {
    FRegistry = registry;
}

void TSearchForm::ShowFound(const TFoundDevice& found) {
    if (FRegistry && IPAddressInUse(*FRegistry, found.IPAddress)) {
        ListBox1->addItem(found.Line());
    } else {
        auto* row = new QListWidgetItem(found.Line(), CheckListBox1);
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        row->setCheckState(Qt::Unchecked);
        row->setData(Qt::UserRole, QVariant::fromValue(found));
    }
}

void TSearchForm::SearchFinished(int found, bool stopped) {
    StatusBar1->showMessage(SearchEndText(found, stopped));
    SetSearching(false);
}

void TSearchForm::AddSelected() {
    if (FSearching)
        return;
    if (TGroups* registry = FRegistry) {
        for (int i = 0; i < CheckListBox1->count(); ++i) {
            const QListWidgetItem* row = CheckListBox1->item(i);
            const QVariant data = row->data(Qt::UserRole);
            if (row->checkState() != Qt::Checked || !data.canConvert<TFoundDevice>())
                continue;
            const TFoundDevice found = data.value<TFoundDevice>();
            // Added since the search (by hand, or by an earlier add): one device per address.
            if (IPAddressInUse(*registry, found.IPAddress))
                continue;
            AddFoundAmplifier(*registry, found);
        }
    }
    ListBox1->clear();
    CheckListBox1->clear();
}
