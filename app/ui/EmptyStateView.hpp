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
    // Hidden while there are profiles; off, with the reason below it, while no profile can be created.
    QPushButton* createButton() const { return m_create; }
    QString reason() const;

private:
    AppModel& m_model;
    QLabel* m_title;
    QLabel* m_text;
    QPushButton* m_create;
    QLabel* m_reason;
};

} // namespace korvel
