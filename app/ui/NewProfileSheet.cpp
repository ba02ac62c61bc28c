#include "app/ui/NewProfileSheet.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/ColorPalette.hpp"
#include "app/ui/ProfileBadge.hpp"
#include "app/ui/SheetHeight.hpp"
#include "app/ui/TextStyle.hpp"
#include "app/ui/UiTask.hpp"
#include "core/support/UnicodeText.hpp"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace korvel {
namespace {

QCoro::Task<> createAndOpen(QPointer<AppModel> model, std::string name, ProfileColor color)
{
    auto creating = model->createProfile(std::move(name), color, false);
    const std::optional<Profile> profile = co_await creating;
    if (profile && model) {
        auto opening = model->open(*profile);
        co_await opening;
    }
}

} // namespace

const std::vector<std::string>& NewProfileSheet::suggestions()
{
    static const std::vector<std::string> names = {"Work", "Personal", "Client", "Side Project", "Team", "Research"};
    return names;
}

std::string NewProfileSheet::suggestedName(const std::vector<Profile>& profiles)
{
    const auto taken = [&profiles](const std::string& name) {
        const std::string folded = UnicodeText::toUpper(name);
        return std::any_of(profiles.begin(), profiles.end(),
            [&folded](const Profile& profile) { return UnicodeText::toUpper(profile.name) == folded; });
    };
    for (const std::string& name : suggestions()) {
        if (!taken(name))
            return name;
    }
    return "Profile " + std::to_string(profiles.size() + 1);
}

std::string NewProfileSheet::finalName(const std::string& name, const std::vector<Profile>& profiles)
{
    std::string trimmed = UnicodeText::trimWhiteSpace(name);
    return trimmed.empty() ? suggestedName(profiles) : trimmed;
}

NewProfileSheet::NewProfileSheet(AppModel& model, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_badge(new ProfileBadge("?", ProfileColor::Blue, 48, this))
    , m_name(new QLineEdit(this))
    , m_palette(new ColorPalette(Profile::firstUnusedColor(model.profiles()), this))
    , m_explanation(new QLabel(this))
    , m_cancel(new QPushButton("Cancel", this))
    , m_create(new QPushButton("Create Profile", this))
{
    setWindowTitle("New Profile");
    setFixedWidth(460);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(18);

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    header->addWidget(m_badge);
    header->addLayout(TextStyle::heading("New Profile", "One profile per Claude account.", this), 1);
    layout->addLayout(header);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows); // some desktop styles put labels above their fields
    m_name->setPlaceholderText(QString::fromStdString(suggestedName(model.profiles())));
    m_name->setAccessibleName("Name");
    form->addRow("Name", m_name);
    m_palette->setAccessibleName("Color");
    form->addRow("Color", m_palette);
    layout->addLayout(form);

    m_explanation->setWordWrap(true);
    m_explanation->setTextFormat(Qt::PlainText);
    TextStyle::apply(m_explanation, TextStyle::Font::Callout, true);
    layout->addWidget(m_explanation);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel->setAutoDefault(false);
    buttons->addWidget(m_cancel);
    m_create->setDefault(true);
    buttons->addWidget(m_create);
    layout->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_create, &QPushButton::clicked, this, &NewProfileSheet::create);
    connect(m_name, &QLineEdit::textChanged, this, &NewProfileSheet::render);
    connect(m_palette, &ColorPalette::selectionChanged, this, &NewProfileSheet::render);
    render();
}

void NewProfileSheet::render()
{
    Profile preview;
    preview.name = finalName(m_name->text().toStdString(), m_model.profiles());
    preview.color = m_palette->selection();
    m_badge->setBadge(preview.letter(), preview.color);
    m_explanation->setText(QString::fromStdString("Creates “" + preview.appDisplayName() +
        "” in ~/Applications/Claude Profiles and opens it. Sign in there with the account you want."));
    const auto blocked = m_model.creationBlocked();
    m_create->setEnabled(!blocked);
    m_create->setToolTip(blocked ? QString::fromStdString(*blocked) : QString());
    SheetHeight::fit(*this);
}

void NewProfileSheet::create()
{
    const std::string name = finalName(m_name->text().toStdString(), m_model.profiles());
    const ProfileColor color = m_palette->selection();
    QPointer<AppModel> model(&m_model);
    accept();
    UiTask::start(model, [model, name, color] { return createAndOpen(model, name, color); });
}

} // namespace korvel
