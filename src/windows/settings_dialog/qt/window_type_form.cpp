#include "windows/settings_dialog/qt/window_type_form.h"

#include <array>
#include <charconv>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/core_context.h"
#include "core/module.h"
#include "platform/utf16.h"
#include "core/value_collector.h"
#include "windows/settings_dialog/record_page_layout.h"
#include "windows/settings_dialog/qt/colour_button.h"
#include "windows/settings_dialog/qt/field_form.h"
#include "windows/window_frame.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt {

namespace {

namespace str = core::str;
using core::RecordSet;

// Lines of a new tag, in turn, so that a chart's lines tell apart.
constexpr std::array<uint32_t, 6> kNewPenColours{0x0000FF, 0x00A000, 0xFF0000, 0x00C8FF, 0xFF00FF, 0xFFFF00};

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A run of 32-bit numbers kept as one value (status parts, plot-area
// corrections): one box per number, where the field's own text would be
// one long number or hexadecimal bytes.
bool IsNumberRun(const core::FieldDef& f) {
    return f.kind == core::FieldKind::Blob && f.encoding == core::FieldEncoding::Struct && f.size % 4 == 0 && f.size >= 8;
}
bool SignedRun(const core::FieldDef& f) { return f.key == "AreaCorrect"; }

const PageLayout& TypeLayout() {
    static const PageLayout layout = [] {
        PageLayout p;
        // The window flags are kept as stored; only GodMode edits them.
        p.hints = {{RecordSet::Item, "RefreshTimeout", FieldLook::Seconds, {}},
                   {RecordSet::Item, "Param", FieldLook::ReadOnly, {}}};
        return p;
    }();
    return layout;
}

core::RecordCopy RecordOf(const WindowTypeSettings& settings) {
    if (const GraphSettings* graph = settings.Graph()) return core::RecordCopy::Of(*graph);
    if (const EventListSettings* list = settings.EventList()) return core::RecordCopy::Of(*list);
    return core::RecordCopy::Of(*settings.InfoBox());
}

// The page on which a window of the type has its own settings.
uint32_t PageOfType(uint8_t type) {
    if (type == kWindowGraph) return str::kPageGraphs;
    if (type == kWindowInfoBox) return str::kPageInfoWindow;
    return str::kPageWindows;
}

uint64_t UidOf(const QListWidgetItem& item) { return item.data(Qt::UserRole).toULongLong(); }

}  // namespace

WindowTypeForm::WindowTypeForm(core::CoreContext& core, WindowModule& module, uint8_t type, Change change, Say say,
                               QWidget* parent)
    : QGroupBox(parent),
      core_(core),
      module_(module),
      type_(type),
      change_(std::move(change)),
      say_(std::move(say)),
      shown_(DefaultTypeSettings(type).value_or(WindowTypeSettings{GraphSettings{}})) {
    setObjectName("WindowTypeForm");
    new QVBoxLayout(this);  // owned by this box
    ShowWindow(std::nullopt, 0, {});
}

bool WindowTypeForm::ShowWindow(std::optional<size_t> slot, uint64_t uid, const std::string& name) {
    // What is being typed for a new window stays while none is selected.
    if (!slot && !slot_ && body_) return true;
    std::optional<WindowTypeSettings> settings = DefaultTypeSettings(type_);
    if (slot) {
        settings = module_.TypeSettings(*slot);
        if (!settings) return false;
    }
    if (!settings) settings = DefaultTypeSettings(type_);
    if (!settings) return false;
    slot_ = slot;
    uid_ = uid;
    setTitle(Q(slot ? core_.Text(str::kDialogWindowSettings, name.c_str()) : core_.Text(str::kDialogNewWindowSettings)));
    Build(*settings);
    // What the controls give back untouched: units shown rounded (seconds)
    // must not count as an edit.
    baseline_.reset();
    if (WindowTypeSettings start; !Collect(start)) baseline_ = std::move(start);
    return true;
}

void WindowTypeForm::Build(const WindowTypeSettings& settings) {
    shown_ = settings;
    rows_.clear();
    options_.clear();
    vendor_ = nullptr;
    tags_ = nullptr;
    rules_ = nullptr;
    offeredRules_ = nullptr;
    if (body_) {
        // Its Apply button may be what is running now.
        body_->hide();
        body_->setParent(nullptr);
        body_->deleteLater();
    }
    body_ = new QWidget(this);
    auto* column = new QVBoxLayout(body_);
    column->setContentsMargins(0, 0, 0, 0);
    auto* form = new QFormLayout;
    column->addLayout(form);
    const bool ownType = settings.Type() == type_;
    if (!ownType) {
        // A page listing every window edits only its own type's settings.
        const std::string page = core_.Text(PageOfType(settings.Type()));
        auto* note = new QLabel(Q(core_.Text(str::kDialogOtherTypePage, page.c_str())), body_);
        note->setObjectName("otherTypePage");
        note->setWordWrap(true);
        column->addWidget(note);
    }
    const core::RecordCopy record = RecordOf(settings);
    if (ownType && !settings.EventList())
        for (const core::FieldDef& f : record.Fields()) AddFieldRow(f, record);
    for (const Row& row : rows_)
        form->addRow(Q(FieldCaption(core_, HintFor(TypeLayout(), RecordSet::Item, *row.field), *row.field)), row.control);
    if (const GraphSettings* graph = settings.Graph(); graph && ownType) AddChart(*graph);
    if (const EventListSettings* list = settings.EventList(); list && ownType) AddEventList(*list);
    auto* apply = new QPushButton(Q(core_.Text(str::kDialogApply)), body_);
    apply->setObjectName("applyWindow");
    // A new window takes these through Add.
    apply->setVisible(slot_.has_value() && ownType);
    connect(apply, &QPushButton::clicked, this, [this] { Apply(); });
    column->addWidget(apply, 0, Qt::AlignRight);
    apply_ = apply;
    layout()->addWidget(body_);
}

void WindowTypeForm::AddFieldRow(const core::FieldDef& f, const core::RecordCopy& record) {
    Row row;
    row.field = &f;
    const void* data = record.Data();
    const FieldHint hint = HintFor(TypeLayout(), RecordSet::Item, f);
    if (IsNumberRun(f)) {
        auto* box = new QWidget(body_);
        auto* line = new QHBoxLayout(box);
        line->setContentsMargins(0, 0, 0, 0);
        std::vector<QLineEdit*> edits;
        const bool isSigned = SignedRun(f);
        for (uint32_t v : ColoursOf(f, data)) {
            auto* edit = new QLineEdit(isSigned ? QString::number(int32_t(v)) : QString::number(v), box);
            line->addWidget(edit);
            edits.push_back(edit);
        }
        row.read = [&f, edits, isSigned] {
            std::vector<uint32_t> now;
            for (const QLineEdit* e : edits) {
                bool ok = false;
                const uint32_t v = isSigned ? uint32_t(e->text().trimmed().toInt(&ok)) : e->text().trimmed().toUInt(&ok);
                if (!ok) return std::string();
                now.push_back(v);
            }
            return ColoursText(f, now);
        };
        row.control = box;
    } else {
        FieldControlRow made = MakeFieldControl(core_, hint, f, data, {}, body_);
        row.read = std::move(made.read);
        row.control = made.control;
    }
    row.control->setObjectName(Q(f.key));
    row.control->setEnabled(core_.settings.godMode || hint.look != FieldLook::ReadOnly);
    row.initial = row.read();
    rows_.push_back(std::move(row));
}

void WindowTypeForm::AddChart(const GraphSettings& graph) {
    auto* column = static_cast<QVBoxLayout*>(body_->layout());
    auto* form = new QFormLayout;
    vendor_ = new QComboBox(body_);
    vendor_->setObjectName("vendor");
    vendor_->setEditable(true);
    // A vendor with no samples yet (a device not polled so far) is typed.
    if (core_.values)
        for (const std::string& v : core_.values->Vendors()) vendor_->addItem(Q(v));
    vendor_->setCurrentText(Q(graph.vendor));
    vendor_->lineEdit()->setMaxLength(int(kGraphTextCapacity - 1));
    form->addRow(Q(core_.Text(str::kDialogGraphVendor)), vendor_);
    column->addLayout(form);

    tags_ = new QTableWidget(0, 2, body_);
    tags_->setObjectName("tags");
    tags_->setHorizontalHeaderLabels({Q(core_.Text(str::kDialogGraphTag)), Q(core_.Text(str::kDialogGraphPenColor))});
    tags_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    tags_->verticalHeader()->setVisible(false);
    tags_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tags_->setSelectionMode(QAbstractItemView::SingleSelection);
    tags_->setMinimumHeight(120);
    column->addWidget(new QLabel(Q(core_.Text(str::kDialogGraphTags)), body_));
    column->addWidget(tags_);
    for (const GraphTag& tag : graph.tags) AddTag(tag.name, tag.penColor);

    auto* line = new QHBoxLayout;
    auto* add = new QPushButton(Q(core_.Text(str::kDialogAddTag)), body_);
    auto* remove = new QPushButton(Q(core_.Text(str::kDialogRemoveTag)), body_);
    add->setObjectName("addTag");
    remove->setObjectName("removeTag");
    connect(add, &QPushButton::clicked, this, [this] {
        AddTag({}, kNewPenColours[size_t(tags_->rowCount()) % kNewPenColours.size()]);
    });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveTag(tags_->currentRow()); });
    line->addWidget(add);
    line->addWidget(remove);
    line->addStretch(1);
    column->addLayout(line);
    connect(vendor_, &QComboBox::currentTextChanged, this, &WindowTypeForm::OfferTags);
    OfferTags();
}

void WindowTypeForm::AddEventList(const EventListSettings& list) {
    auto* column = static_cast<QVBoxLayout*>(body_->layout());
    const core::RecordCopy record = core::RecordCopy::Of(list);
    // One box per heading; the bits and their names are the field table's.
    QGroupBox* box = nullptr;
    uint32_t boxTitle = 0;
    for (const OptionGroup& group : EventListOptionGroups()) {
        const core::FieldDef* field = record.Find(group.key);
        if (!field) continue;
        if (!box || group.title != boxTitle) {
            box = new QGroupBox(Q(core_.Text(group.title)), body_);
            new QVBoxLayout(box);  // owned by the box
            column->addWidget(box);
            boxTitle = group.title;
        }
        const auto value = static_cast<uint64_t>(core::FieldNumber(*field, record.Data()));
        for (const Named& n : field->names) {
            if ((n.value & group.bits) == 0) continue;
            auto* check = new QCheckBox(Q(NamedText(core_, n)), box);
            check->setChecked((value & n.value) != 0);
            box->layout()->addWidget(check);
            options_.push_back({group.key, n.value, check});
        }
    }

    auto* rules = new QGroupBox(Q(core_.Text(str::kRules)), body_);
    auto* ruleColumn = new QVBoxLayout(rules);
    rules_ = new QListWidget(rules);
    rules_->setObjectName("rules");
    rules_->setMinimumHeight(100);
    ruleColumn->addWidget(rules_);
    offeredRules_ = new QComboBox(rules);
    offeredRules_->setObjectName("offeredRules");
    ruleColumn->addWidget(offeredRules_);
    auto* line = new QHBoxLayout;
    const auto button = [&](uint32_t text, const char* name) {
        auto* b = new QPushButton(Q(core_.Text(text)), rules);
        b->setObjectName(name);
        line->addWidget(b);
        return b;
    };
    connect(button(str::kDialogAdd, "addRule"), &QPushButton::clicked, this, &WindowTypeForm::AddRule);
    connect(button(str::kDialogDelete, "removeRule"), &QPushButton::clicked, this, &WindowTypeForm::RemoveRule);
    connect(button(str::kDialogMoveUp, "ruleUp"), &QPushButton::clicked, this, [this] { MoveRule(-1); });
    connect(button(str::kDialogMoveDown, "ruleDown"), &QPushButton::clicked, this, [this] { MoveRule(1); });
    line->addStretch(1);
    ruleColumn->addLayout(line);
    column->addWidget(rules);
    OfferRules();
    for (uint64_t uid : list.rules) AddRuleRow(uid);
}

void WindowTypeForm::OfferRules() {
    if (!offeredRules_) return;
    core::Module* module = core_.registry ? core_.registry->Find(core::kModuleRules) : nullptr;
    core::RecordSets* records = module ? module->Records() : nullptr;
    if (records) {
        if (auto copies = records->Copy({RecordSet::Item})) {
            ruleNames_.clear();
            for (const core::RecordCopy& rule : *copies) {
                if (rule.deleted) continue;
                const core::FieldDef* uid = rule.Find("UID");
                const core::FieldDef* enable = rule.Find("Enable");
                if (!uid) continue;
                ruleNames_.push_back({static_cast<uint64_t>(core::FieldNumber(*uid, rule.Data())),
                                      rule.Get("StrName").value_or(""),
                                      !enable || core::FieldNumber(*enable, rule.Data()) != 0});
            }
        }
    }
    const QVariant chosen = offeredRules_->currentData();
    offeredRules_->clear();
    for (const RuleName& rule : ruleNames_)
        offeredRules_->addItem(RuleText(rule.uid), QVariant::fromValue<qulonglong>(rule.uid));
    if (const int at = offeredRules_->findData(chosen); at >= 0) offeredRules_->setCurrentIndex(at);
    for (int row = 0; rules_ && row < rules_->count(); ++row)
        rules_->item(row)->setText(RuleText(UidOf(*rules_->item(row))));
}

QString WindowTypeForm::RuleText(uint64_t uid) const {
    for (const RuleName& rule : ruleNames_) {
        if (rule.uid != uid) continue;
        const std::string name = rule.name.empty() ? std::to_string(uid) : rule.name;
        // Such a rule is kept in the list but matches nothing until it is enabled.
        return Q(rule.enabled ? name : core_.Text(str::kDialogDisabledRule, name.c_str()));
    }
    return Q(core_.Text(str::kDialogNoSuchRule, std::to_string(uid).c_str()));
}

void WindowTypeForm::AddRuleRow(uint64_t uid) {
    auto* item = new QListWidgetItem(RuleText(uid));
    item->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(uid));
    rules_->addItem(item);  // the list takes it over
}

void WindowTypeForm::AddRule() {
    if (!rules_ || offeredRules_->currentIndex() < 0) return;
    const uint64_t uid = offeredRules_->currentData().toULongLong();
    // A rule is applied once per event; a second place in the list would
    // only make its place unclear.
    for (int row = 0; row < rules_->count(); ++row) {
        if (UidOf(*rules_->item(row)) == uid) {
            rules_->setCurrentRow(row);
            return;
        }
    }
    AddRuleRow(uid);
    rules_->setCurrentRow(rules_->count() - 1);
}

void WindowTypeForm::RemoveRule() {
    if (!rules_) return;
    const int row = rules_->currentRow();
    if (row < 0) {
        say_(core_.Text(str::kDialogSelectRecord));
        return;
    }
    delete rules_->takeItem(row);
}

void WindowTypeForm::MoveRule(int by) {
    if (!rules_) return;
    const int row = rules_->currentRow();
    if (row < 0) {
        say_(core_.Text(str::kDialogSelectRecord));
        return;
    }
    const int to = row + by;
    if (to < 0 || to >= rules_->count()) return;
    QListWidgetItem* item = rules_->takeItem(row);
    rules_->insertItem(to, item);
    rules_->setCurrentRow(to);
}

QCheckBox* WindowTypeForm::Option(const std::string& key, uint64_t bit) const {
    for (const OptionCheck& o : options_)
        if (o.key == key && o.bit == bit) return o.check;
    return nullptr;
}

void WindowTypeForm::AddTag(const std::string& name, uint32_t penColor) {
    if (!tags_) return;
    const int row = tags_->rowCount();
    tags_->insertRow(row);
    auto* tag = new QComboBox(tags_);
    tag->setEditable(true);
    tag->lineEdit()->setMaxLength(int(kGraphTextCapacity - 1));
    if (core_.values && vendor_)
        for (const std::string& t : core_.values->Tags(vendor_->currentText().toStdString())) tag->addItem(Q(t));
    tag->setCurrentText(Q(name));
    tags_->setCellWidget(row, 0, tag);  // the table takes both over
    tags_->setCellWidget(row, 1, ColourButton(tags_, penColor));
    tags_->setCurrentCell(row, 0);
}

void WindowTypeForm::RemoveTag(int row) {
    if (tags_ && row >= 0 && row < tags_->rowCount()) tags_->removeRow(row);
}

void WindowTypeForm::OfferTags() {
    if (!tags_ || !vendor_) return;
    QStringList offered;
    if (core_.values)
        for (const std::string& t : core_.values->Tags(vendor_->currentText().toStdString())) offered << Q(t);
    for (int row = 0; row < tags_->rowCount(); ++row) {
        auto* tag = qobject_cast<QComboBox*>(tags_->cellWidget(row, 0));
        if (!tag) continue;
        const QString typed = tag->currentText();
        tag->clear();
        tag->addItems(offered);
        tag->setCurrentText(typed);
    }
}

QWidget* WindowTypeForm::Control(const std::string& key) const {
    for (const Row& row : rows_)
        if (row.field->key == key) return row.control;
    return nullptr;
}

bool WindowTypeForm::Pending() const {
    if (!slot_ || shown_.Type() != type_) return false;
    WindowTypeSettings now;
    // Settings the controls cannot give (a box without a number) are an edit too.
    return Collect(now).has_value() || !baseline_ || !(now == *baseline_);
}

std::optional<std::string> WindowTypeForm::Collect(WindowTypeSettings& out) const {
    core::RecordCopy record = RecordOf(shown_);
    FieldTexts texts;
    for (const Row& row : rows_) {
        std::string now = row.read();
        if (now.empty() && IsNumberRun(*row.field))
            return core_.Text(str::kFieldNotNumber, FieldLabel(core_, *row.field).c_str());
        // Only what was changed: a value shown rounded (seconds) stays exact.
        if (now != row.initial) texts.emplace_back(row.field->key, std::move(now));
    }
    if (auto refusal = ApplyFieldTexts(core_, TypeLayout(), RecordSet::Item, texts, core_.settings.godMode, record)) return refusal;
    if (shown_.EventList()) {
        // The bits are set by the fields' names, as the table of named bits gives them.
        for (const OptionCheck& o : options_) {
            const core::FieldDef* field = record.Find(o.key);
            if (!field) continue;
            auto value = static_cast<uint64_t>(core::FieldNumber(*field, record.Data()));
            value = o.check->isChecked() ? (value | o.bit) : (value & ~o.bit);
            record.Set(o.key, std::to_string(value));
        }
        EventListSettings list = record.As<EventListSettings>();
        list.rules.clear();
        for (int row = 0; rules_ && row < rules_->count(); ++row) list.rules.push_back(UidOf(*rules_->item(row)));
        out = WindowTypeSettings{std::move(list)};
        return std::nullopt;
    }
    if (!shown_.Graph()) {
        out = WindowTypeSettings{record.As<InfoBoxSettings>()};
        return std::nullopt;
    }
    GraphSettings graph = record.As<GraphSettings>();
    const size_t room = kGraphTextCapacity - 1;
    graph.vendor = vendor_ ? vendor_->currentText().trimmed().toStdString() : std::string();
    if (platform::Utf16Length(graph.vendor) > room)
        return core_.Text(str::kFieldTooLong, core_.Text(str::kDialogGraphVendor).c_str(), unsigned(room));
    graph.tags.clear();
    for (int row = 0; tags_ && row < tags_->rowCount(); ++row) {
        const auto* name = qobject_cast<QComboBox*>(tags_->cellWidget(row, 0));
        const auto* colour = qobject_cast<QPushButton*>(tags_->cellWidget(row, 1));
        if (!name || !colour) continue;
        GraphTag tag{name->currentText().trimmed().toStdString(), ButtonColour(*colour)};
        // A row left without a name would match no reading.
        if (tag.name.empty()) continue;
        if (platform::Utf16Length(tag.name) > room)
            return core_.Text(str::kFieldTooLong, core_.Text(str::kDialogGraphTag).c_str(), unsigned(room));
        graph.tags.push_back(std::move(tag));
    }
    out = WindowTypeSettings{std::move(graph)};
    return std::nullopt;
}

std::optional<std::string> WindowTypeForm::Apply() {
    if (!slot_ || shown_.Type() != type_) {
        const std::string said = core_.Text(str::kDialogSelectRecord);
        say_(said);
        return said;
    }
    WindowTypeSettings settings = shown_;
    if (auto refusal = Collect(settings)) {
        say_(*refusal);
        return refusal;
    }
    const size_t slot = *slot_;
    const uint64_t uid = uid_;
    WindowTypeSettings sent = settings;
    if (const EventListSettings* chosen = settings.EventList()) {
        // The list's zoom, column widths and sort may have changed since the
        // form was shown: only what the form shows goes over them.
        if (std::optional<WindowTypeSettings> now = module_.TypeSettings(slot); now && now->EventList()) {
            EventListSettings merged = *now->EventList();
            merged.param = chosen->param;
            merged.eventParam = chosen->eventParam;
            merged.columns = chosen->columns;
            merged.rules = chosen->rules;
            sent = WindowTypeSettings{std::move(merged)};
        }
    }
    std::optional<std::string> result = change_([&] {
        // The slot may hold another window by now: then nothing changes and
        // the page shows what is there.
        const std::optional<WindowEntry> entry = module_.Entry(slot);
        return entry && entry->uid == uid && module_.ReplaceWindow(slot, *entry, sent);
    });
    if (!result && slot_ == slot) baseline_ = std::move(settings);
    return result;
}

std::optional<std::string> WindowTypeForm::AddWindow(const core::RecordCopy& record, std::optional<size_t>& added) {
    if (!record.Holds<WindowEntry>()) return core_.Text(str::kDialogNotAccepted);
    const WindowEntry entry = record.As<WindowEntry>();
    // GodMode may give a new window another type than the page's: it starts
    // with that type's defaults.
    std::optional<WindowTypeSettings> settings = DefaultTypeSettings(entry.type);
    if (!settings) {
        const std::string said = core_.Text(str::kDialogWindowTypeUnknown, unsigned(entry.type));
        say_(said);
        return said;
    }
    if (!slot_ && entry.type == type_ && shown_.Type() == type_) {
        if (auto refusal = Collect(*settings)) {
            say_(*refusal);
            return refusal;
        }
    }
    return change_([&] {
        added = module_.AddWindow(entry, *settings);
        return added.has_value();
    });
}

std::optional<std::string> WindowTypeForm::EditRefusal(const core::RecordCopy& original,
                                                    const core::RecordCopy& edited) const {
    // The module keeps a window's type, its settings and its running window
    // being of that type: a new type would be dropped without a word.
    if (original.Get("Type") != edited.Get("Type")) return core_.Text(str::kDialogWindowTypeKept);
    return std::nullopt;
}

}  // namespace qm::windows::qt
