// The contact windows end to end: this process is a desktop client (session, peer networking,
// controller, tree and panel on the Qt event loop), the reference server and a headless peer run
// as child processes on addresses of their own. Search and add with the other side's approval, a
// new group with a contact dragged into it, rename and delete, offline messages both ways, files
// both ways with their progress windows.
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "peer/peer_service.h"
#include "platform/debug_log.h"
#include "platform/paths.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "protocol/housekeeping.h"
#include "protocol/notify.h"
#include "protocol/requests.h"
#include "protocol/session.h"
#include "protocol/session_controller.h"
#include "protocol/settings_store.h"
#include "support.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/json_lines.h"
#include "tests/support/loopback.h"
#include "tests/ui/ui_e2e_support.h"
#include "ui/contacts/contact_menus.h"
#include "ui/contacts/contact_panel.h"
#include "ui/contacts/contact_tree.h"
#include "ui/contacts/ui_asker.h"
#include "ui/skin/controls.h"
#include "ui/dialogs/add_group_dialog.h"
#include "ui/dialogs/contact_search_dialog.h"
#include "ui/dialogs/offline_dialogs.h"

namespace {
const std::string kBlock = testsupport::loopback_block() + ".";

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return f ? s.str() : std::string("<missing>");
}

void write_file(const std::string& path, size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i++) data[i] = static_cast<char>((i * 131 + seed) & 0xFF);
    std::ofstream(path, std::ios::binary) << data;
}


struct now_idle : input_idle_source {
    uint32_t last_input_tick() override { return get_tick_count(); }
};

template <class T>
T* find_dialog(QWidget& window) {
    for (T* d : window.findChildren<T*>())
        if (d->isVisible()) return d;
    return nullptr;
}
}  // namespace

class ContactsE2E : public QObject {
    Q_OBJECT
    std::string m_dir;
    std::unique_ptr<child_process> m_server;
    std::unique_ptr<child_process> m_bob;
    recorded_boxes m_boxes;
    ui_question_asker m_asker;
    session_controller m_controller{&m_asker};
    now_idle m_idle;
    housekeeping m_hk{m_controller, &m_idle};
    QWidget m_window;
    CMyTreeCtrl* m_tree = new CMyTreeCtrl(&m_window);
    CContactPanel m_panel{direct_runner(m_controller), m_tree, &m_window};
    session_questions m_questions{direct_runner(m_controller), &m_window};
    std::vector<int> m_seen;
    std::vector<std::string> m_texts;
    queued_dispatcher m_dispatcher{[this](int n, intptr_t w, intptr_t l) {
        m_seen.push_back(n);
        user_text t = m_controller.handle(n, w, l);
        if (!t.empty() && n != NM_FILE_ASK) m_texts.push_back(english(t));
        m_panel.notification(n, w, l, QString());
    }};
    QTimer m_pump;

    bool seen(int n) const { return std::find(m_seen.begin(), m_seen.end(), n) != m_seen.end(); }
    static bool wait(const std::function<bool()>& cond, int ms = 20000) {
        return QTest::qWaitFor(cond, ms);
    }
    bool bob_knows_address(int id) {
        const std::string record = "{\"id\":" + std::to_string(id) + ",";
        for (int i = 0; i < 60; i++) {
            m_bob->write_line("contacts");
            std::string line = m_bob->wait_line({"\"contacts\":["}, 2000);
            size_t at = line.find(record);
            size_t addr = line.find("\"address\":\"", at);
            if (at != std::string::npos && addr != std::string::npos && line[addr + 11] != '"')
                return true;
            QTest::qWait(200);
        }
        return false;
    }

private slots:
    void initTestCase() {
#ifndef PARLO_SERVER_PATH
        QSKIP("parlo-server is not part of this build");
#else
        char tmpl[] = "/tmp/parlo-ui-e2e-XXXXXX";
        QVERIFY(mkdtemp(tmpl));
        m_dir = tmpl;
        m_server = std::make_unique<child_process>(
            PARLO_SERVER_PATH,
            std::vector<std::string>{"--listen", kBlock + "1", "--db", m_dir + "/server.db",
                                     "--fast-hash", "--log", m_dir + "/server.log"});
        QVERIFY(m_server->running());
        QVERIFY(server_listening(*m_server));
        std::filesystem::create_directories(m_dir + "/inbox");
        std::filesystem::create_directories(m_dir + "/ann");
        m_bob = std::make_unique<child_process>(
            PARLO_CLI_PATH,
            std::vector<std::string>{"--server", kBlock + "1", "--bind", kBlock + "3", "--home",
                                     m_dir + "/bob", "--accept-files", m_dir + "/inbox"});
        QVERIFY(!m_bob->wait_line({"\"event\":\"ready\""}).empty());

        set_home_dir(m_dir + "/ann");
        open_debug_log();
        set_server_host_override((kBlock + "1").c_str());
        set_local_bind_address((kBlock + "2").c_str());
        apply_bind_address_setting();
        m_asker.set_questions(&m_questions);
        m_dispatcher.bind_to_current_thread();
        g_main_dlg = &m_dispatcher;
        QVERIFY(session_start() == 0);
        start_peer_networking(true);
        m_hk.start(get_tick_count());
        connect(&m_pump, &QTimer::timeout, this, [this] {
            m_dispatcher.run_pending();
            m_hk.tick(get_tick_count());
        });
        m_pump.start(20);
#endif
    }

    void cleanupTestCase() {
        if (m_dir.empty()) return;
        if (QTest::currentTestFailed() || std::getenv("PARLO_E2E_TRACE")) {
            std::string n;
            for (int x : m_seen) n += std::to_string(x) + " ";
            std::fprintf(stderr, "notifications: %s\n", n.c_str());
            for (const auto& t : m_boxes.texts) std::fprintf(stderr, "box: %s\n", t.c_str());
            for (const auto& l : m_bob->lines()) std::fprintf(stderr, "bob: %.300s\n", l.c_str());
        }
        m_pump.stop();
        if (g_logged_in.load() == 1) m_controller.sign_out();
        m_hk.broadcast_offline();
        m_controller.shutdown();
        wait_for_jobs(2000);
        m_dispatcher.stop();
        stop_peer_networking();
        session_stop();
        take_all_chat_dlgs();
        g_main_dlg = nullptr;
        m_bob.reset();
        m_server.reset();
        close_debug_log();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    void everything_a_user_does_with_contacts() {
        // Bob signs up and in with the headless client; Ann registers through the controller
        // the registration dialog feeds, then signs in.
        m_bob->write_line("register bob@e2e.org pw-bob Bob Brown bobby");
        QVERIFY(!m_bob->wait_line({"\"event\":\"register_success\""}).empty());
        m_bob->write_line("login bob@e2e.org pw-bob");
        int bob_id = json_int(m_bob->wait_line({"\"event\":\"welcome\""}), "user_id");
        QVERIFY(bob_id > 0);
        registration_fields f{"ann@e2e.org", "pw-ann", "Ann", "Adams", "annie", "", "Chad"};
        QCOMPARE(m_controller.register_user(f), 0);
        QVERIFY(wait([&] { return seen(NM_REGISTER_SUCCESS); }));
        QCOMPARE(m_controller.sign_in("ann@e2e.org", "pw-ann", false, false), 0);
        QVERIFY(wait([&] { return seen(NM_CONTACT_LIST); }));
        int ann_id = g_user_id.load();

        // Search and add; Bob is asked and agrees.
        m_panel.run_command(ID_CONTACT_ADD);
        auto* search = find_dialog<CDlgAddContact>(m_window);
        QVERIFY(search);
        search->email_edit()->setText("bob@e2e.org");
        QVERIFY(search->on_search());
        QVERIFY(wait([&] { return find_dialog<CDlgAddContactConfirm>(m_window) != nullptr; }));
        QVERIFY(find_dialog<CDlgAddContactConfirm>(m_window)->on_add());
        QVERIFY(wait([&] { return m_tree->contact_item(bob_id) != nullptr; }));
        QVERIFY(!m_bob->wait_line({"\"question\":\"added_me\""}).empty());
        m_bob->write_line("accept-contact " + std::to_string(ann_id));
        QVERIFY(wait([&] {
            contact_record c;
            return contact_by_id(bob_id, &c) && c.presence == PS_ONLINE && c.address[0] != '\0' &&
                   m_tree->contact_item(bob_id)->font(0).bold();
        }));
        QVERIFY(bob_knows_address(ann_id));

        // A new group, Bob dragged into it; the server's list agrees afterwards.
        m_panel.run_command(ID_GROUP_ADD);
        auto* add_group = find_dialog<CDlgAddGroup>(m_window);
        QVERIFY(add_group);
        add_group->name_edit()->setText("Friends");
        add_group->accept();
        int gid = 0;
        QVERIFY(wait([&] {
            for (const group_record& g : groups_snapshot())
                if (std::string(g.name) == "Friends") gid = g.group_id;
            return gid > 0 && m_tree->group_node(gid) != nullptr;
        }));
        m_tree->drop_contact(bob_id, 0, m_tree->group_node(gid));
        QCOMPARE(m_tree->contact_item(bob_id)->parent(), m_tree->group_node(gid));
        size_t lists = std::count(m_seen.begin(), m_seen.end(), int(NM_CONTACT_LIST));
        request_groups();
        request_contacts();
        QVERIFY(wait([&] {
            return size_t(std::count(m_seen.begin(), m_seen.end(), int(NM_CONTACT_LIST))) > lists;
        }));
        QCOMPARE(m_tree->contact_item(bob_id)->parent(), m_tree->group_node(gid));

        // Rename in place: the old label stays until the server confirms.
        m_tree->group_node(gid)->setText(0, "Pals");
        QCOMPARE(m_tree->group_node(gid)->text(0), QString("Friends"));
        QVERIFY(wait([&] { return m_tree->group_node(gid)->text(0) == "Pals"; }));

        // A group with a contact is not deleted; emptied, it is.
        m_panel.select_group(gid);
        m_panel.run_command(ID_GROUP_DELETE);
        QCOMPARE(m_boxes.last(), std::string("Could not delete a none-empty group."));
        m_tree->drop_contact(bob_id, gid, m_tree->default_group());
        m_boxes.answers = {ANSWER_YES};
        m_panel.run_command(ID_GROUP_DELETE);
        QVERIFY(wait([&] { return m_tree->group_node(gid) == nullptr; }));

        // Offline messages: Bob leaves one, Ann reads it in the viewer and saves it.
        m_bob->write_line("offline " + std::to_string(ann_id) + " hello from bob");
        QVERIFY(!m_bob->wait_line({"\"ok\":\"offline\""}).empty());
        // The half-hourly check, asked for until the server has stored the message.
        for (int i = 0; i < 20 && !seen(NM_OFFLINE_WAITING); i++) {
            request_offline_check();
            wait([&] { return seen(NM_OFFLINE_WAITING); }, 1000);
        }
        // The question is a dialog of its own; Ann says YES.
        QVERIFY(wait([&] { return m_questions.dialog(QUESTION_READ_OFFLINE, 0) != nullptr; }));
        m_questions.dialog(QUESTION_READ_OFFLINE, 0)->yes_button()->click();
        QVERIFY(wait([&] { return find_dialog<CDlgShowOfflineMessage>(m_window) != nullptr; }));
        auto* viewer = find_dialog<CDlgShowOfflineMessage>(m_window);
        QVERIFY(viewer->edit()->toPlainText().contains("hello from bob"));
        std::string saved = m_dir + "/saved.txt";
        viewer->set_chooser([&] { return QString::fromStdString(saved); });
        viewer->on_save();
        QVERIFY(read_file(saved).find("hello from bob") != std::string::npos);

        // Ann leaves one for Bob with the editor.
        m_tree->setCurrentItem(m_tree->contact_item(bob_id));
        m_panel.run_command(ID_CONTACT_OFFLINE_MESSAGE);
        auto* editor = find_dialog<CDlgOfflineMessage>(m_window);
        QVERIFY(editor);
        editor->edit()->setPlainText("hello from ann");
        QCOMPARE(editor->on_send(), 0);
        std::string got;
        for (int i = 0; i < 10 && got.empty(); i++) {
            m_bob->write_line("read-offline");
            got = m_bob->wait_line({"\"event\":\"offline_end\"", "hello from ann"}, 2000);
        }
        QVERIFY(!got.empty());
        editor->close();

        // A file from Ann to Bob, with the progress window.
        std::string out = m_dir + "/to_bob.bin";
        write_file(out, 25000, 1);
        m_panel.transfers().choose_file_to_send = [&] { return QString::fromStdString(out); };
        m_boxes.answers = {ANSWER_YES};
        m_panel.run_command(ID_CONTACT_FILE_TRANSFER);
        QVERIFY(wait([&] {
            CDlgFileProgress* w = m_panel.transfers().window_for(bob_id, true);
            return w && w->percent() == 100;
        }));
        QVERIFY(!m_bob->wait_line({"\"event\":\"file_saved\""}, 20000).empty());
        QCOMPARE(read_file(m_dir + "/inbox/to_bob.bin"), read_file(out));

        // A file from Bob to Ann: the question, the save dialog, the progress window.
        std::string in = m_dir + "/to_ann.bin";
        std::string dest = m_dir + "/ann_got.bin";
        write_file(in, 12345, 7);
        m_questions.choose_save_path = [&](const QString&) { return QString::fromStdString(dest); };
        m_bob->write_line("send-file " + std::to_string(ann_id) + " " + in);
        QVERIFY(wait([&] { return m_questions.dialog(QUESTION_FILE_OFFER, bob_id) != nullptr; }));
        m_questions.dialog(QUESTION_FILE_OFFER, bob_id)->yes_button()->click();
        QVERIFY(wait([&] { return seen(NM_FILE_DONE); }));
        QCOMPARE(read_file(dest), read_file(in));
        CDlgFileProgress* recv = m_panel.transfers().window_for(bob_id, false);
        QVERIFY(recv);
        QVERIFY(recv->status_text().contains("12.1 KB"));
    }
};

int main(int argc, char** argv) { return run_ui_e2e<ContactsE2E>(argc, argv); }
#include "contacts_e2e_test.moc"
