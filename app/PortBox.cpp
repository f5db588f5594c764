#include "PortBox.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QProxyStyle>
#include <QStringList>
#include <QStyleFactory>
#include <QStyleOptionComboBox>

#include "PortDescription.h"
#include "PortNames.h"
#include "UpdateRun.h"
#include "WindowTexts.h"

namespace {

// The application's look with a one-pixel frame and a narrow arrow button.
class NarrowArrowStyle final : public QProxyStyle {
  public:
    NarrowArrowStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override {
        if (control != CC_ComboBox) {
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
        const QRect r = option->rect;
        const QRect arrow(r.right() - kFrame - kArrowWidth + 1, r.top() + kFrame, kArrowWidth,
                          r.height() - 2 * kFrame);
        switch (part) {
            case SC_ComboBoxArrow:
                return arrow;
            case SC_ComboBoxEditField:
                return QRect(r.left() + kFrame, r.top() + kFrame, arrow.left() - r.left() - kFrame,
                             r.height() - 2 * kFrame);
            default:
                return QProxyStyle::subControlRect(control, option, part, widget);
        }
    }

  private:
    static constexpr int kFrame = 1;
    static constexpr int kArrowWidth = 11;
};

// n of an item that names COMn, 0 for any other item.
int ComNumber(const QString& itemText) {
    return ComLabelNumber(itemText.toStdString());
}

QString HintFor(int number) {
    return QString::fromStdString(PortDescriptionLine(DescribePort(number), ReasonLanguage::Polish));
}

}  // namespace

PortBox::PortBox(QWidget* parent) : QComboBox(parent) {
    auto* style = new NarrowArrowStyle;
    style->setParent(this);
    setStyle(style);
    // Until the tooltip is asked for, it (and the description) tells of the text alone.
    connect(this, &QComboBox::currentTextChanged, this, [this] {
        setToolTip(TextHint());
        if (!hasFocus()) ShowTextEnd();
    });
}

void PortBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    ShowTextEnd();
}

void PortBox::ShowTextEnd() {
    if (QLineEdit* edit = lineEdit()) edit->setCursorPosition(static_cast<int>(edit->text().size()));
}

QString PortBox::TextHint() const {
    const QString text = currentText();
    if (text == QLatin1String(kAutoPortText))
        return "Auto: port wyszukiwany samoczynnie wśród COM1 do COM20";
    const auto portName = PortNameForBox(text.toStdString());
    if (!portName) return PortTextHint(text);
    const std::string line =
        PortDescriptionLine(DescribePortName(*portName), ReasonLanguage::Polish);
    // A path is named by itself; the line then starts with what it resolves to.
    return ComLabelNumber(text.toStdString()) != 0 || line.rfind(text.toStdString(), 0) == 0
               ? QString::fromStdString(line)
               : text + ": " + QString::fromStdString(line);
}

void PortBox::showPopup() {
    RefreshHints();
    QComboBox::showPopup();
}

bool PortBox::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) RefreshHints();
    return QComboBox::event(event);
}

QString PortBox::PortsHint() const {
    QStringList lines;
    for (int i = 0; i < count(); ++i) {
        if (const int n = ComNumber(itemText(i)); n != 0) lines << HintFor(n);
    }
    return lines.join(u'\n');
}

void PortBox::RefreshHints() {
    // New data of the current item would put the item's text back over a typed one.
    const QString text = currentText();
    for (int i = 0; i < count(); ++i) {
        const int n = ComNumber(itemText(i));
        if (n == 0) continue;
        if (const QString hint = HintFor(n); itemData(i, Qt::ToolTipRole).toString() != hint)
            setItemData(i, hint, Qt::ToolTipRole);
    }
    if (currentText() != text) setEditText(text);
    setToolTip(TextHint() + "\n\n" + PortsHint());
}
