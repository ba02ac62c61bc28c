#include "StandInWindow.hpp"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

StandInWindow::StandInWindow(const QString& appName, const std::filesystem::path& dataDir, const QString& version)
    : m_links(new QListWidget(this))
{
    const QString folder = QString::fromStdString(dataDir.string());
    setWindowTitle(appName);
    resize(520, 320);
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(appName + " (stand-in Claude Desktop " + version + ")", this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(title);
    auto* data = new QLabel("Data folder: " + folder, this);
    data->setTextFormat(Qt::PlainText);
    data->setTextInteractionFlags(Qt::TextSelectableByMouse);
    data->setWordWrap(true);
    layout->addWidget(data);
    layout->addWidget(new QLabel("Links received:", this));
    m_links->setAccessibleName("Links received");
    layout->addWidget(m_links, 1);
}

void StandInWindow::addLink(const QString& link)
{
    m_links->addItem(link);
    m_links->scrollToBottom();
}
