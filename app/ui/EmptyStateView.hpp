#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace korvel {

class AppModel;

// The detail pane when no profile is selected: "No profiles yet" with a button to create one, or
// "Select a profile".
class EmptyStateView : public QWidget
{
    Q_OBJECT

public:
    explicit EmptyStateView(AppModel& model, QWidget* parent = nullptr);

    void render();

    QString title() const;
    QString text() const;
    // Hidden while there are profiles.
    QPushButton* createButton() const { return m_create; }

private:
    AppModel& m_model;
    QLabel* m_title;
    QLabel* m_text;
    QPushButton* m_create;
};

} // namespace korvel
