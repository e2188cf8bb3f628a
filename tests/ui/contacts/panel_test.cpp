// Menus, the contact and group commands with the selected-contact rule, and the order of
// notifications while a question is open.
#include <QMenu>
#include <QTest>

#include "protocol/commands.h"
#include "protocol/notify.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"
#include "protocol/tables.h"
#include "support.h"
#include "tests.h"
#include "ui/contacts/contact_menus.h"
#include "ui/contacts/contact_panel.h"
#include "ui/contacts/contact_tree.h"
#include "ui/contacts/ui_asker.h"

namespace {
bool enabled(const QMenu* m, int id) {
    return menu_action(m, id)->isEnabled();
}

struct panel_fixture {
    recorded_boxes boxes;
    ui_question_asker asker;
    session_controller controller{&asker};
    QWidget window;
    CMyTreeCtrl* tree = new CMyTreeCtrl(&window);
    int tasks = 0;  // what the panel handed to the session
    CContactPanel panel{[this](session_task t) {
                            tasks++;
                            t(controller);
                        },
                        tree, &window};
    panel_fixture() { tree->build_full(); }
};
}  // namespace

class PanelTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        reset_tables();
        put_group(5, "Work");
        put_group(6, "Empty");
        put_contact(11, 0, "off", PS_OFFLINE);
        put_contact(12, 5, "on", PS_ONLINE);
        put_contact(13, 5, "hidden", PS_APPEAR_OFFLINE);
    }

    void contact_menu_greys_by_presence() {
        contact_record c;
        for (int id : {11, 13}) {
            QVERIFY(contact_by_id(id, &c));
            std::unique_ptr<QMenu> m(build_contact_menu(c, nullptr));
            for (int cmd : {ID_CONTACT_CHAT, ID_CONTACT_AUDIO_VIDEO, ID_CONTACT_FILE_TRANSFER,
                            ID_CONTACT_KNOCK})
                QVERIFY(!enabled(m.get(), cmd));
            QVERIFY(enabled(m.get(), ID_CONTACT_OFFLINE_MESSAGE));
            QVERIFY(enabled(m.get(), ID_CONTACT_VIEW_INFO));
        }
        QVERIFY(contact_by_id(12, &c));
        std::unique_ptr<QMenu> m(build_contact_menu(c, nullptr));
        for (int cmd :
             {ID_CONTACT_CHAT, ID_CONTACT_AUDIO_VIDEO, ID_CONTACT_FILE_TRANSFER, ID_CONTACT_KNOCK})
            QVERIFY(enabled(m.get(), cmd));
        QVERIFY(!enabled(m.get(), ID_CONTACT_OFFLINE_MESSAGE));
        QCOMPARE(m->actions().size(), 10);
        QCOMPARE(m->actions().last()->text(), QString("Disallow Knock"));
    }

    void knock_commands_and_the_swap() {
        panel_fixture f;
        f.tree->setCurrentItem(f.tree->contact_item(12));
        f.panel.run_command(ID_CONTACT_DISALLOW_KNOCK);
        contact_record c;
        QVERIFY(contact_by_id(12, &c));
        QCOMPARE(c.knock_blocked, 1);
        std::unique_ptr<QMenu> m(build_contact_menu(c, nullptr));
        QVERIFY(menu_action(m.get(), ID_CONTACT_ALLOW_KNOCK));
        QVERIFY(!menu_action(m.get(), ID_CONTACT_DISALLOW_KNOCK));
        f.panel.run_command(ID_CONTACT_ALLOW_KNOCK);
        QVERIFY(contact_by_id(12, &c));
        QCOMPARE(c.knock_blocked, 0);
        int before = f.tasks;
        f.panel.run_command(ID_CONTACT_KNOCK);
        QCOMPARE(f.tasks, before + 1);

        // A group node selected is no contact, even when its id equals a contact's.
        put_group(12, "Twelve");
        f.tree->build_full();
        f.tree->setCurrentItem(f.tree->group_node(12));
        before = f.tasks;
        f.panel.run_command(ID_CONTACT_KNOCK);
        QCOMPARE(f.tasks, before);
        QCOMPARE(f.boxes.last(), std::string("please select a contact."));
        f.panel.run_command(ID_CONTACT_OFFLINE_MESSAGE);
        QCOMPARE(f.boxes.last(), std::string("Please select a contact."));
    }

    void group_menu_and_commands() {
        std::unique_ptr<QMenu> def(build_group_menu(0, nullptr));
        QCOMPARE(def->actions().size(), 2);
        QVERIFY(menu_action(def.get(), ID_GROUP_ADD) && menu_action(def.get(), ID_CONTACT_ADD));
        std::unique_ptr<QMenu> work(build_group_menu(5, nullptr));
        QCOMPARE(work->actions().size(), 4);

        panel_fixture f;
        f.panel.select_group(0);
        f.panel.run_command(ID_GROUP_EDIT);
        QCOMPARE(f.boxes.last(), std::string("Could not edit dfault group."));
        f.panel.run_command(ID_GROUP_DELETE);
        QCOMPARE(f.boxes.last(), std::string("could not delete default group."));
        f.panel.select_group(5);
        f.panel.run_command(ID_GROUP_DELETE);
        QCOMPARE(f.boxes.last(), std::string("Could not delete a none-empty group."));
        f.panel.select_group(6);
        f.boxes.answers.push_back(ANSWER_NO);
        f.panel.run_command(ID_GROUP_DELETE);
        QCOMPARE(f.boxes.last(), std::string("Are you sure to remove this group?"));

        // Add Contact while signed out.
        g_logged_in = 0;
        f.panel.run_command(ID_CONTACT_ADD);
        QCOMPARE(f.boxes.last(), std::string("Please login first before you add contact."));
    }

    void right_click_remembers_the_group() {
        panel_fixture f;
        g_logged_in = 1;
        f.window.resize(300, 300);
        f.tree->resize(300, 300);
        f.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        QTreeWidgetItem* seen = nullptr;
        f.tree->on_context_menu = [&](QTreeWidgetItem* item, const QPoint&) { seen = item; };
        QPoint at = f.tree->visualItemRect(f.tree->contact_item(12)).center();
        QContextMenuEvent ev(QContextMenuEvent::Mouse, at, f.tree->viewport()->mapToGlobal(at));
        QApplication::sendEvent(f.tree->viewport(), &ev);
        QCOMPARE(seen, f.tree->contact_item(12));
        QCOMPARE(f.tree->currentItem(), f.tree->contact_item(12));
        g_logged_in = 0;
        seen = nullptr;
        QApplication::sendEvent(f.tree->viewport(), &ev);
        QVERIFY(!seen);
    }
};

static register_test<PanelTest> reg;
#include "panel_test.moc"
