#include "ui/dialogs/ui_text.h"

#include <QCoreApplication>

#include "platform/message_box.h"

namespace {
struct text_entry {
    int id;
    const char* english;
};

// The entries of the string table that these dialogs and menus show.
const text_entry kTexts[] = {
    {161, "Add Group"},
    {162, "Edit Group"},
    {163, "Delete Group"},
    {164, "Add Contact"},
    {166, "Remove Contact"},
    {167, "View Info"},
    {168, "Text Chat"},
    {169, "Audio Video"},
    {170, "Transfer File"},
    {171, "Offline Message"},
    {172, "Email should not be empty."},
    {173, "Email seems not correct."},
    {174, "The email address already exist in your contact list."},
    {175, "This contact already exists in your contact list."},
    {178, "Could not input more than 10000 charactors."},
    {179, "No contact selected when sending."},
    {180, "failed to send offline message, did not find contact in contact list."},
    {181, "Email could not be empty."},
    {182, "Password could not be empty."},
    {183, "FirstName could not be empty."},
    {184, "LastName could not be empty."},
    {185, "NickName could not be empty."},
    {186, "Your Email seems not correct, please correct."},
    {187, ":, <, >, ', \", \\ and space is not allowed in email, please correct."},
    {188, "Please choose between \"discard message\" or \"save message\"."},
    {189, "failed to open file to write, make sure you have privilege to do so."},
    {200, "Contact full."},
    {206, "You have offline message, do you want to read now?"},
    {207, "%s %s(%s) want to send you a file named %s, do you want accept?"},
    {208, "sending file %s to %s %s(%s) now."},
    {209, "%s %s(%s) did not accept your file transfer."},
    {210, "File %s saved successfully from %s %s (%s)."},
    {212, "%s(%s %s)(%s) added you as contact, do you want to add her(him) to your contact list?"},
    {213, "%s(%s %s)(%s) removed you from his(her) contact list, do you want to remove him(her) "
          "from your contact list?"},
    {214, "Please login first before you add contact."},
    {215, "Are you sure to remove this contact from your list?"},
    {216, "could not delete default group."},
    {217, "Could not edit dfault group."},
    {218, "Could not delete a none-empty group."},
    {219, "Are you sure to remove this group?"},
    {221, "please select a contact."},
    {222, "Are you sure to tranfer file %s to %s?"},
    {223, "Please select a contact."},
    {226, "Knock Peer"},
    {227, "Allow Knock"},
    {228, "Disallow Knock"},
};
}  // namespace

QString ui_text(int id) {
    for (const text_entry& e : kTexts)
        if (e.id == id) return QCoreApplication::translate("texts", e.english);
    return QString();
}

QString fill_text(const QString& format, const QStringList& args) {
    QString out;
    int next = 0;
    for (int i = 0; i < format.size(); i++) {
        QChar c = format[i];
        if (c == '%' && i + 1 < format.size()) {
            QChar k = format[i + 1];
            if (k == 's' || k == 'd') {
                if (next < args.size()) out += args[next];
                next++;
                i++;
                continue;
            }
            if (k == '%') {
                out += '%';
                i++;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString ui_text(int id, const QStringList& args) { return fill_text(ui_text(id), args); }

void ui_show_text(const QString& text) { show_message("%s", text.toUtf8().constData()); }

void ui_show(int id, const QStringList& args) { ui_show_text(ui_text(id, args)); }

int ui_ask_yes_no(int id, const QStringList& args) {
    return ask_yes_no("%s", ui_text(id, args).toUtf8().constData());
}

int ui_ask_yes_no_cancel(const QString& text) {
    return ask_yes_no_cancel("%s", text.toUtf8().constData());
}
