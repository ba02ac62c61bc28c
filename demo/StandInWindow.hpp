#pragma once

#include <QWidget>

#include <filesystem>

class QListWidget;

// The stand-in's window: which data folder it runs with and the links it was handed.
class StandInWindow : public QWidget
{
    Q_OBJECT

public:
    StandInWindow(const QString& appName, const std::filesystem::path& dataDir, const QString& version);

    void addLink(const QString& link);

private:
    QListWidget* m_links;
};
