#include "app/ui/ContentView.hpp"

#include "app/model/AppModel.hpp"
#include "app/ui/AccessibleRoles.hpp"
#include "app/ui/CommandIcon.hpp"
#include "app/ui/DialogWindow.hpp"
#include "app/ui/EmptyStateView.hpp"
#include "app/ui/FocusRing.hpp"
#include "app/ui/NewProfileSheet.hpp"
#include "app/ui/ProfileDetailView.hpp"
#include "app/ui/Sidebar.hpp"
#include "app/ui/Symbol.hpp"
#include "app/ui/UiTask.hpp"
#include "app/ui/WelcomeView.hpp"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace korvel {
namespace {

QString qText(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

ContentView::ContentView(AppModel& model, Platform platform, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_platform(platform)
    , m_splitter(new QSplitter(this))
    , m_sidebar(new Sidebar(model, platform, m_splitter))
    , m_detailPane(new QWidget(m_splitter))
    , m_empty(new EmptyStateView(model, m_detailPane))
{
    setWindowTitle("Korvel");
    FocusRing::install();
    AccessibleRoles::install();
    resize(defaultSize);
    // Narrower, the form's rows would overlap; lower, the detail scrolls.
    setMinimumSize(minimumSize);
    auto* detailLayout = new QVBoxLayout(m_detailPane);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->addWidget(m_empty);

    m_sidebar->setMinimumWidth(220);
    m_sidebar->setMaximumWidth(320);
    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(m_detailPane);
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, false);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({240, 620});
    setCentralWidget(m_splitter);

    makeCommands();
    makeToolbar();
    drawIcons();
    connect(&m_model, &AppModel::changed, this, &ContentView::render);
    render();
}

ContentView::~ContentView() = default;

void ContentView::makeCommands()
{
    QMenu* file = menuBar()->addMenu("&File");
    m_newProfileCommand = file->addAction("New Profile…", this, [this] { m_model.setShowNewProfile(true); });
    m_newProfileCommand->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    AppModel& model = m_model;
    m_openAllCommand = file->addAction(
        "Open All Profiles", this, [&model] { UiTask::start(&model, [&model] { return model.openAll(); }); });
    m_openAllCommand->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    file->addSeparator();
    // Where desktops without a tray (stock GNOME) leave the only way to the settings.
    m_settingsCommand = file->addAction("Settings…", this, &ContentView::settingsRequested);
    m_settingsCommand->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_settingsCommand->setMenuRole(QAction::PreferencesRole);
    file->addSeparator();
    m_quitCommand = file->addAction("Quit Korvel", this, &ContentView::quitRequested);
    m_quitCommand->setShortcut(QKeySequence::Quit);
}

void ContentView::drawIcons()
{
    // Menu and toolbar share the commands' icons; the toolbar's New Profile and Open All have their own actions.
    const QColor ink = palette().color(QPalette::WindowText);
    m_newProfileCommand->setIcon(CommandIcon::icon(CommandIcon::Command::NewProfile, ink));
    m_openAllCommand->setIcon(CommandIcon::icon(CommandIcon::Command::OpenAll, ink));
    m_settingsCommand->setIcon(CommandIcon::icon(CommandIcon::Command::Settings, ink));
    m_quitCommand->setIcon(CommandIcon::icon(CommandIcon::Command::Quit, ink));
    const QColor buttonInk = palette().color(QPalette::ButtonText);
    m_openAllButton->setIcon(CommandIcon::icon(CommandIcon::Command::OpenAll, buttonInk));
    m_newProfileButton->setIcon(CommandIcon::icon(CommandIcon::Command::NewProfile, buttonInk));
}

void ContentView::makeToolbar()
{
    QToolBar* toolbar = addToolBar("Profiles");
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    AppModel& model = m_model;
    m_openAllButton =
        toolbar->addAction("Open All", this, [&model] { UiTask::start(&model, [&model] { return model.openAll(); }); });
    m_openAllButton->setToolTip("Open every profile");
    m_newProfileButton = toolbar->addAction("New Profile", this, [this] { m_model.setShowNewProfile(true); });
    m_newProfileTip = "Create a profile for another Claude account";
    m_newProfileButton->setToolTip(m_newProfileTip);
}

void ContentView::render()
{
    m_openAllButton->setEnabled(!m_model.profiles().empty());
    const auto blocked = m_model.creationBlocked();
    for (QAction* create : {m_newProfileCommand, m_newProfileButton}) {
        create->setEnabled(!blocked);
        create->setToolTip(blocked ? qText(*blocked) : m_newProfileTip);
    }
    m_sidebar->render();
    renderDetail();
    renderSheets();
    renderAlert();
}

void ContentView::renderDetail()
{
    const auto selected = m_model.profile(m_model.selection());
    if (m_detail && (!selected || selected->id != m_detail->profileID())) {
        // Another profile is shown in a fresh view; the old one commits its name on the way out.
        if (selected || m_model.profile(m_detail->profileID()))
            m_detail->commitName();
        m_detail->hide();
        m_detail->deleteLater();
        m_detail = nullptr;
    }
    if (selected && !m_detail) {
        m_detail = new ProfileDetailView(m_model, m_platform, selected->id, m_detailPane);
        m_detailPane->layout()->addWidget(m_detail);
    }
    if (m_detail)
        m_detail->render();
    m_empty->setVisible(!m_detail);
    m_empty->render();
}

void ContentView::renderSheets()
{
    if (!isVisible())
        return; // sheets belong to the window; they appear when it does
    if (m_model.showWelcome() && !m_welcome) {
        m_welcome = new WelcomeView(m_model, m_platform, this);
        m_welcome->setAttribute(Qt::WA_DeleteOnClose);
        m_welcome->open();
    } else if (!m_model.showWelcome() && m_welcome) {
        WelcomeView* welcome = m_welcome;
        m_welcome = nullptr;
        keepAlertOpen(welcome);
        welcome->closeSheet();
    } else if (m_welcome) {
        m_welcome->render();
    }

    if (m_model.showNewProfile() && m_model.creationBlocked()) {
        m_model.setShowNewProfile(false); // asked from the tray before it knew; the window says why
        return;
    }
    if (m_model.showNewProfile() && !m_newProfileSheet && !m_welcome) {
        m_newProfileSheet = new NewProfileSheet(m_model, this);
        m_newProfileSheet->setAttribute(Qt::WA_DeleteOnClose);
        DialogWindow::prepare(*m_newProfileSheet);
        connect(m_newProfileSheet, &QDialog::finished, this, [this] {
            m_newProfileSheet = nullptr;
            if (m_model.showNewProfile())
                m_model.setShowNewProfile(false);
        });
        m_newProfileSheet->open();
    } else if (!m_model.showNewProfile() && m_newProfileSheet) {
        NewProfileSheet* sheet = m_newProfileSheet;
        m_newProfileSheet = nullptr;
        keepAlertOpen(sheet);
        sheet->reject();
    }
}

void ContentView::keepAlertOpen(QWidget* closingSheet)
{
    if (!m_alert || m_alert->parentWidget() != closingSheet)
        return;
    // The sheet takes its children along; the alert moves over to the window, which stays.
    m_alert->setParent(this, m_alert->windowFlags());
    m_alert->open();
}

QWidget* ContentView::topmostSheet() const
{
    if (m_welcome)
        return m_welcome;
    if (m_newProfileSheet)
        return m_newProfileSheet;
    return const_cast<ContentView*>(this);
}

void ContentView::renderAlert()
{
    const auto& message = m_model.errorMessage();
    if (!message) {
        if (m_alert) {
            QMessageBox* alert = m_alert;
            m_alert = nullptr;
            alert->done(0);
        }
        return;
    }
    if (m_alert) {
        m_alert->setInformativeText(qText(*message));
        DialogWindow::fitInformativeText(*m_alert);
        return;
    }
    if (!isVisible())
        return;
    auto* alert = new QMessageBox(topmostSheet());
    alert->setAttribute(Qt::WA_DeleteOnClose);
    DialogWindow::prepareAlert(*alert);
    alert->setIcon(QMessageBox::Warning);
    alert->setText("Something went wrong");
    alert->setInformativeText(qText(*message));
    DialogWindow::fitInformativeText(*alert);
    // An import that broke off asks what comes instead: the copy again, or the empty folder it left.
    const bool interrupted = m_model.interruptedImport().has_value();
    QPushButton* ok = alert->addButton(interrupted ? "Keep Empty" : "OK", QMessageBox::RejectRole);
    QPushButton* again = interrupted ? alert->addButton("Import Again", QMessageBox::AcceptRole) : nullptr;
    alert->setDefaultButton(again ? again : ok);
    alert->setEscapeButton(ok);
    connect(alert, &QMessageBox::finished, this, [this, alert, again] {
        if (m_alert != alert)
            return; // closed because the message went away
        m_alert = nullptr;
        if (again && alert->clickedButton() == again)
            UiTask::start(&m_model, [model = &m_model] { return model->importAgain(); });
        else if (m_model.interruptedImport())
            m_model.keepEmptyData();
        else
            m_model.setErrorMessage(std::nullopt);
    });
    m_alert = alert;
    alert->open();
}

void ContentView::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    render();
}

void ContentView::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    if (m_detail)
        m_detail->commitName();
}

void ContentView::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_quitCommand)
        drawIcons(); // light and dark switched
    // A sheet stays in front of its window: one opened while the window was still being mapped, or the window
    // brought forward from the tray, would otherwise sit behind it.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        QTimer::singleShot(0, this, [this] {
            QWidget* front = m_alert ? m_alert.data() : topmostSheet();
            if (front != this && isActiveWindow()) {
                front->raise();
                front->activateWindow();
            }
        });
    }
}

void ContentView::keyPressEvent(QKeyEvent* event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // Return in a text field belongs to the field (the name field commits on it).
    if (isReturn && m_detail && !qobject_cast<QLineEdit*>(focusWidget())) {
        m_detail->performDefaultAction();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

} // namespace korvel
