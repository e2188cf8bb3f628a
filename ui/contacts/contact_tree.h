// CMyTreeCtrl: the contact tree. "Default Group" and the user's groups at the first level, the
// contacts (sorted by nick name, case-insensitive) below them with an image for their presence.
// It mirrors the contact and group tables: every change reads copies of the records and puts the
// items where the tables say, so tree and tables cannot disagree for longer than one change.
//
// Threads: GUI thread only. The tables are read through their snapshot helpers; no lock is held
// while anything is shown.
#pragma once
#include <QTreeWidget>
#include <functional>
#include <set>

struct contact_record;

class CMyTreeCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CMyTreeCtrl(QWidget* parent = nullptr);

    QTreeWidgetItem* default_group() const { return topLevelItem(0); }
    static int item_data(const QTreeWidgetItem* item);
    QTreeWidgetItem* contact_item(int contact_id) const;
    QTreeWidgetItem* group_node(int group_id) const;  // "Default Group" for 0

    // Sign-out: only "Default Group" stays.
    void clear_to_default();
    // Group list (4): the group level again, in table order.
    void rebuild_groups();
    // Contact list (5): everything again from the tables. Contacts waiting for the user's answer
    // to "added you" (relation state 4) stay hidden; a contact of an unlisted group goes under
    // "Default Group".
    void build_full();
    // Status (6, 45): image and, once online, bold.
    void update_status(int contact_id, int state);
    // Puts one contact where the tables say (or removes it when it has no shown record).
    void place_contact(int contact_id);
    // A group was added, removed or renamed: the group level follows the table, the contacts of
    // a group that went away move under "Default Group".
    void sync_groups();

    // The tool-tip text of an item, empty for group nodes and unknown contacts.
    QString tooltip_for(const QTreeWidgetItem* item) const;
    static QString tooltip_text(const contact_record& c);

    // Drop of a dragged contact on an item (nullptr: empty space). Returns the target group id,
    // or -1 when the drop does nothing.
    int drop_target(const QTreeWidgetItem* target, int from_group_id) const;
    // The whole drop: the item moves at once, then on_move asks for the move; whoever answers
    // it calls place_contact, which puts the item where the tables then say.
    void drop_contact(int contact_id, int from_group_id, const QTreeWidgetItem* target);
    // Starts the in-place edit of a group's name; false for "Default Group" or an unknown group.
    bool begin_rename(int group_id);

    // What the tree asks of the session: a move (300) and a rename (313). The results show when
    // the tables change.
    std::function<void(int contact_id, int group_id)> on_move;
    std::function<void(int group_id, const QString& name)> on_rename;
    // The right click, after it selected the item and remembered the group.
    std::function<void(QTreeWidgetItem* item, const QPoint& global)> on_context_menu;

    bool dragging() const { return m_dragging; }

protected:
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QTreeWidgetItem* add_group_node(int group_id, const QString& name);
    QTreeWidgetItem* insert_contact(QTreeWidgetItem* parent, const contact_record& c);
    void style_contact(QTreeWidgetItem* item, const contact_record& c);
    void on_item_changed(QTreeWidgetItem* item, int column);

    bool m_updating = false;
    bool m_dragging = false;
    QTreeWidgetItem* m_press_item = nullptr;
    QPoint m_press_pos;
    int m_drag_contact_id = 0;
    int m_drag_from_group_id = 0;
    std::set<int> m_seen_online;  // contacts drawn bold: shown online once since sign-in
};
