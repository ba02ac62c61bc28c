#include "app/ui/FormSection.hpp"

#include "app/ui/TextStyle.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace korvel {

FormSection::FormSection(const QString& header, QWidget* parent)
    : QWidget(parent)
    , m_box(new QFrame(this))
    , m_rows(new QVBoxLayout(m_box))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        m_header = new QLabel(header, this);
        TextStyle::apply(m_header, TextStyle::Font::Headline, true);
        m_header->setContentsMargins(4, 0, 0, 0);
        layout->addWidget(m_header);
    }
    m_box->setObjectName("formSectionBox");
    m_box->setFrameShape(QFrame::StyledPanel);
    m_box->setAutoFillBackground(true);
    m_box->setBackgroundRole(QPalette::Base);
    m_rows->setContentsMargins(12, 8, 12, 8);
    m_rows->setSpacing(8);
    layout->addWidget(m_box);
}

QWidget* FormSection::append(QWidget* row)
{
    m_rows->addWidget(row);
    return row;
}

QWidget* FormSection::addRow(QWidget* content)
{
    return append(content);
}

QWidget* FormSection::addRow(QLayout* content)
{
    auto* row = new QWidget(m_box);
    content->setContentsMargins(0, 0, 0, 0);
    row->setLayout(content);
    return append(row);
}

QWidget* FormSection::addRow(const QString& label, QWidget* field)
{
    auto* row = new QWidget(m_box);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto* name = new QLabel(label, row);
    name->setBuddy(field);
    layout->addWidget(name);
    // The field sits at the right edge; one that wants the room gets all of it.
    const bool expands = field->sizePolicy().horizontalPolicy() & QSizePolicy::ExpandFlag;
    if (!expands)
        layout->addStretch(1);
    layout->addWidget(field, expands ? 1 : 0);
    if (field->accessibleName().isEmpty())
        field->setAccessibleName(label);
    return append(row);
}

QLabel* FormSection::setFooter(const QString& text)
{
    if (!m_footer) {
        m_footer = new QLabel(this);
        m_footer->setWordWrap(true);
        m_footer->setContentsMargins(4, 0, 4, 0);
        TextStyle::apply(m_footer, TextStyle::Font::Callout, true);
        layout()->addWidget(m_footer);
    }
    m_footer->setText(text);
    return m_footer;
}

} // namespace korvel
