#pragma once

#include "core/model/Profile.hpp"

#include <QTimer>
#include <QWidget>

#include <chrono>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;

namespace korvel {

class AppModel;
class SidebarRow;

// A small window for opening or bringing forward a profile from the keyboard: typing filters the profiles by name
// (any letter case, accents aside), Up and Down choose, Return or a row's digit (1–9) opens; Escape closes it, and
// so does another window taking the focus, as the app it opened does (or lingerAfterOpen after an open). Drawn from the
// model's state alone, so it shows at once.
class SwitcherWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int fixedWidth = 400;
    static constexpr int visibleRows = 8; // beyond these the list scrolls
    static constexpr std::chrono::milliseconds lingerAfterOpen {3000};

    explicit SwitcherWindow(AppModel& model, QWidget* parent = nullptr);

    // Shows it with an empty search, centred on the screen under the pointer, and asks for the keyboard focus.
    void present();

    QLineEdit* searchField() const { return m_search; }
    QListWidget* list() const { return m_list; }
    SidebarRow* row(int index) const;
    // What shows instead of the list when it is empty: no profiles, or none that matches.
    QLabel* emptyText() const { return m_empty; }
    // The profiles the rows show, in order.
    const std::vector<Uuid>& shownProfiles() const { return m_ids; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void render();
    void rebuildRows(const std::vector<Profile>& shown);
    void showChoice();
    void open(int index);
    void fitHeight();

    AppModel& m_model;
    QLineEdit* m_search;
    QListWidget* m_list;
    QLabel* m_empty;
    std::vector<Uuid> m_ids;
    std::vector<SidebarRow*> m_rows;
    std::vector<QLabel*> m_digits;
    QTimer m_linger; // hides it a while after an open
};

} // namespace korvel
