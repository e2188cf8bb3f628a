// The contact tree built and patched from the tables: what is shown where, in which order and
// how, tool tips, drops and group renames.
#include <QTest>

#include "protocol/commands.h"
#include "protocol/tables.h"
#include "support.h"
#include "tests.h"
#include "ui/contacts/contact_tree.h"

namespace {
QStringList labels(const QTreeWidgetItem* node) {
    QStringList out;
    for (int i = 0; i < node->childCount(); i++) out << node->child(i)->text(0);
    return out;
}
}  // namespace

class TreeTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        reset_tables();
        put_group(5, "Work");
        put_group(6, "Family");
        put_contact(11, 0, "bob");
        put_contact(12, 0, "Alice");
        put_contact(13, 5, "zed");
        put_contact(14, 5, "Carl", PS_ONLINE);
        put_contact(15, 0, "Pending", 0, REL_ADDED_ME);  // waits for the user's answer
        put_contact(16, 99, "Lost");                     // group 99 is not listed
    }

    void full_build_places_sorts_and_hides() {
        CMyTreeCtrl tree;
        tree.build_full();
        QCOMPARE(tree.topLevelItemCount(), 3);
        QCOMPARE(tree.topLevelItem(1)->text(0), QString("Work"));
        QCOMPARE(tree.topLevelItem(2)->text(0), QString("Family"));
        QCOMPARE(labels(tree.default_group()), QStringList({"Alice", "bob", "Lost"}));
        QCOMPARE(labels(tree.topLevelItem(1)), QStringList({"Carl", "zed"}));
        QVERIFY(!tree.contact_item(15));

        // Yes and the server's confirmation: the record becomes an ordinary contact of group 0.
        {
            tables_guard lk(tables_mutex());
            g_contact[get_contact_index(15)].relation_state = REL_ADDED;
        }
        tree.place_contact(15);
        QCOMPARE(tree.contact_item(15)->parent(), tree.default_group());
        QCOMPARE(labels(tree.default_group()), QStringList({"Alice", "bob", "Lost", "Pending"}));
    }

    void online_once_stays_bold() {
        CMyTreeCtrl tree;
        tree.build_full();
        QVERIFY(!tree.contact_item(11)->font(0).bold());
        tree.update_status(11, PS_ONLINE);
        QVERIFY(tree.contact_item(11)->font(0).bold());
        tree.update_status(11, PS_OFFLINE);
        QVERIFY(tree.contact_item(11)->font(0).bold());
        QVERIFY(tree.contact_item(14)->font(0).bold());  // listed online
        tree.clear_to_default();
        QCOMPARE(tree.topLevelItemCount(), 1);
        QCOMPARE(tree.default_group()->childCount(), 0);
    }

    void tooltip_text_and_limits() {
        reset_tables();
        put_contact(21, 0, "nick", PS_APPEAR_OFFLINE, REL_ADDED, "Ann", "Lee", "ann@x.org");
        put_contact(22, 0, "averyveryverylongnicknamethatgoesonandon", PS_BUSY, REL_ADDED,
                    "Firstnamelong", "Lastnamelonger", "someone.with.long.address@example.org");
        CMyTreeCtrl tree;
        tree.build_full();
        QCOMPARE(tree.tooltip_for(tree.contact_item(21)),
                 QString("Ann Lee(ann@x.org) nick (Offline)"));
        QString long_tip = tree.tooltip_for(tree.contact_item(22));
        QCOMPARE(long_tip.size(), 79);
        QVERIFY(long_tip.startsWith("Firstnamelong Lastnamelonger(someone.with.long.address@"));
        QVERIFY(tree.tooltip_for(tree.default_group()).isEmpty());
        // A contact item whose record went away has no tip.
        {
            tables_guard lk(tables_mutex());
            reset_one_contact(get_contact_index(21));
        }
        QVERIFY(tree.tooltip_for(tree.contact_item(21)).isEmpty());
    }

    void drops_move_only_to_other_groups() {
        CMyTreeCtrl tree;
        tree.build_full();
        QTreeWidgetItem* work = tree.topLevelItem(1);
        QCOMPARE(tree.drop_target(work, 5), -1);                   // its own group
        QCOMPARE(tree.drop_target(tree.contact_item(14), 5), -1);  // a contact of its own group
        QCOMPARE(tree.drop_target(nullptr, 5), -1);                // empty space
        QCOMPARE(tree.drop_target(tree.contact_item(11), 5), 0);   // another group's contact

        std::vector<std::pair<int, int>> moves;
        tree.on_move = [&](int c, int g) {  // the session moves the record, then answers
            moves.push_back({c, g});
            set_contact_group(c, g);
            tree.place_contact(c);
        };
        tree.drop_contact(13, 5, tree.contact_item(11));
        QCOMPARE(tree.contact_item(13)->parent(), tree.default_group());
        QCOMPARE(moves.size(), size_t(1));

        // The server's next list still has it in "Work": the tree follows the server.
        set_contact_group(13, 5);
        tree.build_full();
        QCOMPARE(tree.contact_item(13)->parent(), tree.group_node(5));

        // A move that could not be requested: shown at once, then back where the tables have it.
        int asked = 0;
        tree.on_move = [&](int, int) { asked++; };
        tree.drop_contact(13, 5, tree.group_node(6));
        QCOMPARE(tree.contact_item(13)->parent(), tree.group_node(6));
        QCOMPARE(asked, 1);
        tree.place_contact(13);
        QCOMPARE(tree.contact_item(13)->parent(), tree.group_node(5));
    }

    void drag_with_the_mouse() {
        CMyTreeCtrl tree;
        tree.resize(300, 400);
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        tree.build_full();
        int moved_contact = 0, moved_to = -1;
        tree.on_move = [&](int c, int g) {
            moved_contact = c;
            moved_to = g;
        };
        QRect from = tree.visualItemRect(tree.contact_item(12));
        QRect to = tree.visualItemRect(tree.group_node(6));
        QWidget* vp = tree.viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, from.center());
        QMouseEvent move(QEvent::MouseMove, QPointF(from.center() + QPoint(0, 20)),
                         vp->mapToGlobal(QPointF(from.center() + QPoint(0, 20))), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(vp, &move);
        QVERIFY(tree.dragging());
        QMouseEvent over(QEvent::MouseMove, QPointF(to.center()),
                         vp->mapToGlobal(QPointF(to.center())), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(vp, &over);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, to.center());
        QVERIFY(!tree.dragging());
        QCOMPARE(moved_contact, 12);
        QCOMPARE(moved_to, 6);
    }

    void group_rename_waits_for_the_server() {
        CMyTreeCtrl tree;
        tree.build_full();
        QVERIFY(!tree.begin_rename(0));
        QVERIFY(!(tree.default_group()->flags() & Qt::ItemIsEditable));
        int renamed = 0;
        QString asked;
        tree.on_rename = [&](int g, const QString& name) {
            renamed = g;
            asked = name;
        };
        tree.group_node(6)->setText(0, QString(40, 'k'));  // what the in-place editor commits
        QCOMPARE(renamed, 6);
        QCOMPARE(asked, QString(31, 'k'));
        QCOMPARE(tree.group_node(6)->text(0), QString("Family"));
        // The server confirms (32) and the table has the new name.
        {
            tables_guard lk(tables_mutex());
            for (auto& g : g_group_table)
                if (g.in_use && g.group_id == 6) copy_text_for_test(g.name, "Kin");
        }
        tree.sync_groups();
        QCOMPARE(tree.group_node(6)->text(0), QString("Kin"));
    }

    void removed_group_returns_its_contacts_to_default() {
        CMyTreeCtrl tree;
        tree.build_full();
        {
            tables_guard lk(tables_mutex());
            for (int i = 0; i < kMaxGroups; i++)
                if (g_group_table[i].in_use && g_group_table[i].group_id == 5)
                    reset_one_contact_group(i);
        }
        tree.sync_groups();
        QVERIFY(!tree.group_node(5));
        QCOMPARE(tree.contact_item(13)->parent(), tree.default_group());
    }

private:
    static void copy_text_for_test(char (&dst)[33], const char* src) {
        std::snprintf(dst, sizeof(dst), "%s", src);
    }
};

static register_test<TreeTest> reg;
#include "tree_test.moc"
