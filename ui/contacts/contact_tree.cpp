#include "ui/contacts/contact_tree.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>

#include "platform/debug_log.h"
#include "protocol/commands.h"
#include "protocol/session.h"
#include "protocol/tables.h"
#include "ui/contacts/tree_icons.h"
#include "ui/dialogs/dialog_texts.h"

namespace {
constexpr int kDataRole = Qt::UserRole;
constexpr int kConfirmedNameRole = Qt::UserRole + 1;  // a group's name as the server knows it
constexpr int kToolTipChars = 79;

bool shown(const contact_record& c) {
    return c.relation_state != REL_ADDED_ME;
}

// The string-table ids of the state words of a tool tip; a contact appearing offline reads as
// offline.
const int kTipWords[8] = {TXT_OFFLINE,    TXT_ONLINE,   TXT_BUSY,  TXT_AWAY,
                          TXT_RIGHT_BACK, TXT_ON_PHONE, TXT_LUNCH, TXT_OFFLINE};
}  // namespace

CMyTreeCtrl::CMyTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setIndentation(16);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(false);
    setDragEnabled(false);
    auto* root = new QTreeWidgetItem(this);
    root->setText(0, ui_text(T_DEFAULT_GROUP));
    root->setData(0, kDataRole, 0);
    root->setIcon(0, tree_image(0));
    root->setExpanded(true);
    connect(this, &QTreeWidget::itemChanged, this, &CMyTreeCtrl::on_item_changed);
}

int CMyTreeCtrl::item_data(const QTreeWidgetItem* item) {
    return item ? item->data(0, kDataRole).toInt() : -1;
}

QTreeWidgetItem* CMyTreeCtrl::contact_item(int contact_id) const {
    for (int i = 0; i < topLevelItemCount(); i++) {
        QTreeWidgetItem* node = topLevelItem(i);
        for (int j = 0; j < node->childCount(); j++)
            if (item_data(node->child(j)) == contact_id) return node->child(j);
    }
    return nullptr;
}

QTreeWidgetItem* CMyTreeCtrl::group_node(int group_id) const {
    for (int i = 0; i < topLevelItemCount(); i++)
        if (item_data(topLevelItem(i)) == group_id) return topLevelItem(i);
    return nullptr;
}

void CMyTreeCtrl::clear_to_default() {
    m_updating = true;
    m_press_item = nullptr;
    while (topLevelItemCount() > 1) delete takeTopLevelItem(1);
    qDeleteAll(default_group()->takeChildren());
    m_seen_online.clear();
    m_updating = false;
}

QTreeWidgetItem* CMyTreeCtrl::add_group_node(int group_id, const QString& name) {
    auto* node = new QTreeWidgetItem(this);
    node->setText(0, name);
    node->setData(0, kDataRole, group_id);
    node->setData(0, kConfirmedNameRole, name);
    node->setIcon(0, tree_image(0));
    node->setFlags(node->flags() | Qt::ItemIsEditable);
    node->setExpanded(true);
    return node;
}

void CMyTreeCtrl::rebuild_groups() {
    m_updating = true;
    m_press_item = nullptr;
    while (topLevelItemCount() > 1) delete takeTopLevelItem(1);
    for (const group_record& g : groups_snapshot())
        add_group_node(g.group_id, QString::fromUtf8(g.name));
    m_updating = false;
}

void CMyTreeCtrl::style_contact(QTreeWidgetItem* item, const contact_record& c) {
    item->setText(0, QString::fromUtf8(c.display_name));
    item->setData(0, kDataRole, c.contact_id);
    item->setIcon(0, tree_image(c.presence + 1));
    if (c.presence == PS_ONLINE) m_seen_online.insert(c.contact_id);
    QFont f = font();
    f.setBold(m_seen_online.count(c.contact_id) != 0);
    item->setFont(0, f);
}

QTreeWidgetItem* CMyTreeCtrl::insert_contact(QTreeWidgetItem* parent, const contact_record& c) {
    QString label = QString::fromUtf8(c.display_name);
    int at = 0;
    while (at < parent->childCount() &&
           QString::compare(parent->child(at)->text(0), label, Qt::CaseInsensitive) <= 0)
        at++;
    auto* item = new QTreeWidgetItem;
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    parent->insertChild(at, item);
    style_contact(item, c);
    return item;
}

void CMyTreeCtrl::build_full() {
    m_updating = true;
    m_press_item = nullptr;
    while (topLevelItemCount() > 1) delete takeTopLevelItem(1);
    qDeleteAll(default_group()->takeChildren());
    std::vector<contact_record> contacts = contacts_snapshot();
    std::vector<bool> placed(contacts.size(), false);
    for (size_t i = 0; i < contacts.size(); i++)
        if (contacts[i].group_id == 0 && shown(contacts[i])) {
            insert_contact(default_group(), contacts[i]);
            placed[i] = true;
        }
    for (const group_record& g : groups_snapshot()) {
        QTreeWidgetItem* node = add_group_node(g.group_id, QString::fromUtf8(g.name));
        for (size_t i = 0; i < contacts.size(); i++)
            if (!placed[i] && contacts[i].group_id == g.group_id && shown(contacts[i])) {
                insert_contact(node, contacts[i]);
                placed[i] = true;
            }
    }
    // Contacts whose group is not listed.
    for (size_t i = 0; i < contacts.size(); i++)
        if (!placed[i] && shown(contacts[i])) insert_contact(default_group(), contacts[i]);
    m_updating = false;
}

void CMyTreeCtrl::update_status(int contact_id, int state) {
    if (state == PS_ONLINE) m_seen_online.insert(contact_id);
    contact_record c;
    if (!contact_by_id(contact_id, &c)) return;
    c.presence = state;
    if (QTreeWidgetItem* item = contact_item(contact_id)) {
        m_updating = true;
        style_contact(item, c);
        m_updating = false;
    }
}

void CMyTreeCtrl::place_contact(int contact_id) {
    m_updating = true;
    contact_record c;
    bool show = contact_by_id(contact_id, &c) && shown(c);
    QTreeWidgetItem* item = contact_item(contact_id);
    QTreeWidgetItem* parent = nullptr;
    if (show) {
        parent = group_node(c.group_id);
        if (!parent) parent = default_group();
    }
    if (item && item->parent() == parent && item->text(0) == QString::fromUtf8(c.display_name)) {
        style_contact(item, c);
    } else {
        bool was_current = item && item == currentItem();
        if (item) {
            if (m_press_item == item) m_press_item = nullptr;
            delete item;
        }
        if (parent) {
            QTreeWidgetItem* fresh = insert_contact(parent, c);
            if (was_current) setCurrentItem(fresh);
        }
    }
    m_updating = false;
}

void CMyTreeCtrl::sync_groups() {
    m_updating = true;
    std::vector<group_record> groups = groups_snapshot();
    std::vector<int> orphans;
    for (int i = topLevelItemCount() - 1; i >= 1; i--) {
        QTreeWidgetItem* node = topLevelItem(i);
        int id = item_data(node);
        const group_record* g = nullptr;
        for (const group_record& r : groups)
            if (r.group_id == id) g = &r;
        if (g) {
            QString name = QString::fromUtf8(g->name);
            node->setData(0, kConfirmedNameRole, name);
            node->setText(0, name);
            continue;
        }
        for (int j = 0; j < node->childCount(); j++) orphans.push_back(item_data(node->child(j)));
        m_press_item = nullptr;
        delete takeTopLevelItem(i);
    }
    for (const group_record& g : groups)
        if (!group_node(g.group_id)) add_group_node(g.group_id, QString::fromUtf8(g.name));
    m_updating = false;
    for (int id : orphans) place_contact(id);
}

QString CMyTreeCtrl::tooltip_text(const contact_record& c) {
    int word = c.presence >= 0 && c.presence < 8 ? kTipWords[c.presence] : kTipWords[0];
    QString text =
        QStringLiteral("%1 %2(%3) %4 (%5)")
            .arg(QString::fromUtf8(c.first_name), QString::fromUtf8(c.last_name),
                 QString::fromUtf8(c.email), QString::fromUtf8(c.display_name), ui_text(word));
    return text.left(kToolTipChars);
}

QString CMyTreeCtrl::tooltip_for(const QTreeWidgetItem* item) const {
    if (!item || !item->parent()) return QString();
    int id = item_data(item);
    contact_record c;
    if (!contact_by_id(id, &c)) {
        log_line("did not found contact_id:%d in CMyTreeCtrl OnToolTipText\r\n", id);
        return QString();
    }
    return tooltip_text(c);
}

bool CMyTreeCtrl::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        QTreeWidgetItem* item = itemAt(help->pos());
        QString text = tooltip_for(item);
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), plain_tool_tip(text), viewport(),
                               visualItemRect(item));
        return true;
    }
    return QTreeWidget::viewportEvent(event);
}

int CMyTreeCtrl::drop_target(const QTreeWidgetItem* target, int from_group_id) const {
    if (!target) return -1;
    const QTreeWidgetItem* node = target->parent() ? target->parent() : target;
    int group_id = item_data(node);
    return group_id == from_group_id ? -1 : group_id;
}

void CMyTreeCtrl::drop_contact(int contact_id, int from_group_id, const QTreeWidgetItem* target) {
    int group_id = drop_target(target, from_group_id);
    if (group_id < 0) return;
    contact_record c;
    if (!contact_by_id(contact_id, &c)) return;
    // Shown at once. Should the move not go out, or the server's next list say otherwise, the
    // contact goes back to where the tables have it (place_contact).
    m_updating = true;
    QTreeWidgetItem* item = contact_item(contact_id);
    if (item == m_press_item) m_press_item = nullptr;
    delete item;
    QTreeWidgetItem* moved = insert_contact(group_node(group_id), c);
    setCurrentItem(moved);
    m_updating = false;
    if (on_move) on_move(contact_id, group_id);
}

bool CMyTreeCtrl::begin_rename(int group_id) {
    if (group_id == 0) return false;
    QTreeWidgetItem* node = group_node(group_id);
    if (!node) return false;
    setCurrentItem(node);
    editItem(node, 0);
    return true;
}

void CMyTreeCtrl::on_item_changed(QTreeWidgetItem* item, int) {
    if (m_updating) return;
    if (item->parent()) {
        log_line("getparent item is not null in OnTvnEndlabeleditContactTree, hItem:%d\r\n",
                 item_data(item));
        return;
    }
    int group_id = item_data(item);
    QString confirmed = item->data(0, kConfirmedNameRole).toString();
    QString typed = item->text(0);
    // The label keeps the old name until the server confirms the new one.
    m_updating = true;
    item->setText(0, confirmed);
    m_updating = false;
    if (group_id != 0 && typed != confirmed && on_rename) on_rename(group_id, typed.left(31));
}

void CMyTreeCtrl::mousePressEvent(QMouseEvent* event) {
    QTreeWidget::mousePressEvent(event);
    m_press_item = nullptr;
    if (event->button() == Qt::LeftButton) {
        m_press_item = itemAt(event->position().toPoint());
        m_press_pos = event->position().toPoint();
    }
}

void CMyTreeCtrl::mouseMoveEvent(QMouseEvent* event) {
    QPoint pos = event->position().toPoint();
    if (!m_dragging && m_press_item && (event->buttons() & Qt::LeftButton) &&
        (pos - m_press_pos).manhattanLength() >= QApplication::startDragDistance()) {
        QTreeWidgetItem* item = m_press_item;
        setCurrentItem(item);
        if (item->parent()) {
            m_dragging = true;
            m_drag_contact_id = item_data(item);
            m_drag_from_group_id = item_data(item->parent());
            viewport()->setCursor(Qt::BusyCursor);
        }
        m_press_item = nullptr;
    }
    if (m_dragging) {
        if (QTreeWidgetItem* under = itemAt(pos)) setCurrentItem(under);
        return;
    }
    QTreeWidget::mouseMoveEvent(event);
}

void CMyTreeCtrl::mouseReleaseEvent(QMouseEvent* event) {
    m_press_item = nullptr;
    if (!m_dragging) {
        QTreeWidget::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    viewport()->unsetCursor();
    drop_contact(m_drag_contact_id, m_drag_from_group_id, itemAt(event->position().toPoint()));
}

void CMyTreeCtrl::contextMenuEvent(QContextMenuEvent* event) {
    if (g_logged_in.load() != 1) return;
    QTreeWidgetItem* item = itemAt(event->pos());
    if (!item) return;
    setCurrentItem(item);
    if (on_context_menu) on_context_menu(item, event->globalPos());
}
