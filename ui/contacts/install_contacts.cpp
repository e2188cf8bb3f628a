#include "ui/contacts/install_contacts.h"

#include <QLayout>

#include "ui/contacts/contact_panel.h"
#include "ui/contacts/contact_tree.h"
#include "ui/contacts/ui_asker.h"
#include "ui/main/main_dlg.h"
#include "ui/skin/palette.h"

CContactPanel* install_contacts(CParloDlg* window, ui_question_asker& asker) {
    auto* tree = new CMyTreeCtrl(window->tree_area());
    // The tree's text colour comes from the skin.
    QPalette pal = tree->palette();
    pal.setColor(QPalette::Text, skin_colour(SKIN_TEXT));
    tree->setPalette(pal);
    if (QLayout* box = window->tree_area()->layout()) box->addWidget(tree);
    session_runner session = [window](session_task task) {
        window->run_in_session([window, task] { task(window->controller()); });
    };
    asker.set_questions(&window->questions());
    auto* panel = new CContactPanel(session, tree, window);
    window->set_contact_hooks(panel);
    return panel;
}
