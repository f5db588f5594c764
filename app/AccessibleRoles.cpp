#include "AccessibleRoles.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QListView>
#include <QPointer>

#include "ClickableImage.h"
#include "PortBox.h"

namespace {

// The logo: a link whose one action opens the home page, as a click or Enter does.
class AccessibleLink final : public QAccessibleWidget {
  public:
    explicit AccessibleLink(ClickableImage* image) : QAccessibleWidget(image, QAccessible::Link) {}
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction()) static_cast<ClickableImage*>(widget())->Activate();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {"Return"}; }
};

// The port box: named by what it is (Qt names an editable box by its text on this platform),
// its text as its value, its tooltip as its description.
class AccessiblePortBox final : public QAccessibleWidget {
  public:
    explicit AccessiblePortBox(PortBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return static_cast<PortBox*>(widget())->currentText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {showMenuAction()}; }
    void doAction(const QString& name) override {
        if (name == showMenuAction()) static_cast<PortBox*>(widget())->showPopup();
    }
};

// One row of a list view. Qt's own rows report themselves as showing while their view is
// hidden (a page not shown, a drop-down list closed); these say what a user sees.
class AccessibleRow final : public QAccessibleInterface {
  public:
    AccessibleRow(QListView* view, int row) : view_(view), row_(row) {}
    bool isValid() const override { return view_ && Index().isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(view_);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        if (t == QAccessible::Name) return Index().data(Qt::DisplayRole).toString();
        if (t == QAccessible::Description) return Index().data(Qt::ToolTipRole).toString();
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect r = view_->visualRect(Index());
        return r.translated(view_->viewport()->mapToGlobal(QPoint(0, 0)));
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State st;
        if (!isValid()) return st;
        const QRect shown(view_->viewport()->mapToGlobal(QPoint(0, 0)), view_->viewport()->size());
        st.invisible = !view_->isVisible() || !shown.intersects(rect());
        st.selectable = true;
        st.focusable = true;
        st.selected = view_->selectionModel()->isSelected(Index());
        st.focused = view_->hasFocus() && view_->currentIndex() == Index();
        return st;
    }

  private:
    QModelIndex Index() const {
        return view_->model()->index(row_, view_->modelColumn(), view_->rootIndex());
    }
    QPointer<QListView> view_;
    int row_;
};

// A list view whose children are its rows, by number: a row's interface stays valid while
// the list has that many rows, whatever it holds.
class AccessibleList final : public QAccessibleWidget {
  public:
    explicit AccessibleList(QListView* view) : QAccessibleWidget(view, QAccessible::List) {}
    ~AccessibleList() override {
        for (const QAccessible::Id id : std::as_const(rows_)) QAccessible::deleteAccessibleInterface(id);
    }
    int childCount() const override {
        return View()->model()->rowCount(View()->rootIndex());
    }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        auto found = rows_.find(index);
        if (found == rows_.end())
            found = rows_.insert(index, QAccessible::registerAccessibleInterface(
                                            new AccessibleRow(View(), index)));
        return QAccessible::accessibleInterface(*found);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const QAccessible::Id id = QAccessible::uniqueId(const_cast<QAccessibleInterface*>(child));
        return rows_.key(id, -1);
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint at = View()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = View()->indexAt(at);
        return index.isValid() ? child(index.row()) : nullptr;
    }

  private:
    QListView* View() const { return static_cast<QListView*>(widget()); }
    mutable QHash<int, QAccessible::Id> rows_;
};

QAccessibleInterface* Roles(const QString&, QObject* object) {
    if (auto* image = qobject_cast<ClickableImage*>(object)) return new AccessibleLink(image);
    if (auto* portBox = qobject_cast<PortBox*>(object)) return new AccessiblePortBox(portBox);
    if (auto* list = qobject_cast<QListView*>(object)) return new AccessibleList(list);
    return nullptr;
}

}  // namespace

void InstallAccessibleRoles() {
    static const bool installed = [] {
        QAccessible::installFactory(Roles);
        return true;
    }();
    (void)installed;
}
