#include "sipconfigdialog_p.h"

#include "sipaccounts.h"
#include "sipuri_p.h"
#include "tapi.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace zq::sip {

namespace {

struct Codec {
    int payloadType;
    const char* name;
};
const Codec kCodecs[] = { { 0, "PCMU" }, { 8, "PCMA" } };

QWidget* OwnerWidget(HWND owner)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w == owner)
            return w;
    return nullptr;
}

QLineEdit* Edit(QWidget* parent, const char* name, const std::string& text, const QString& placeholder = {})
{
    auto* e = new QLineEdit(QString::fromStdString(text), parent);
    e->setObjectName(name);
    e->setPlaceholderText(placeholder);
    return e;
}

QString PortText(int port)
{
    return port ? QString::number(port) : QString();
}

// A port as typed: empty is 0 (any); nothing else outside 0..65535 passes.
std::optional<int> ReadPort(const QLineEdit* e)
{
    const QString t = e->text().trimmed();
    if (t.isEmpty())
        return 0;
    bool ok = false;
    const int v = t.toInt(&ok);
    if (!ok || v < 0 || v > 65535)
        return std::nullopt;
    return v;
}

QString Sentence(const std::string& problem)
{
    QString s = QString::fromStdString(problem);
    if (!s.isEmpty())
        s[0] = s[0].toUpper();
    return s + ".";
}

} // namespace

LONG RunSipAccountDialog(const std::string& accountName, HWND owner)
{
    SipAccountSettings s;
    if (!LoadSipAccount(accountName, &s))
        return LONG(LINEERR_NODEVICE);
    const std::string storedPassword = SipPassword(accountName);

    QDialog dlg(OwnerWidget(owner));
    dlg.setObjectName("sipAccountDialog");
    dlg.setWindowTitle(QString::fromStdString(accountName) + " Properties");
    auto* layout = new QVBoxLayout(&dlg);

    auto* account = new QGroupBox("Account", &dlg);
    auto* form = new QFormLayout(account);
    auto* address = Edit(account, "address", s.address, "sip:user@domain");
    auto* displayName = Edit(account, "displayName", s.displayName);
    auto* registrar = Edit(account, "registrar", s.registrar, "none: the line does not register");
    auto* proxy = Edit(account, "outboundProxy", s.outboundProxy, "none");
    auto* authUser = Edit(account, "authUser", s.authUser, "the user of the address");
    auto* password = Edit(account, "password", storedPassword);
    password->setEchoMode(QLineEdit::Password);
    form->addRow("Address of record", address);
    form->addRow("Display name", displayName);
    form->addRow("Registrar", registrar);
    form->addRow("Outbound proxy", proxy);
    form->addRow("Authentication user", authUser);
    form->addRow("Password", password);
    layout->addWidget(account);

    auto* network = new QGroupBox("Network", &dlg);
    auto* netForm = new QFormLayout(network);
    auto* transport = new QComboBox(network);
    transport->setObjectName("transport");
    transport->addItems({ "UDP", "TCP", "TLS" });
    transport->setCurrentIndex(s.transport == "tcp" ? 1 : s.transport == "tls" ? 2 : 0);
    auto* localPort = Edit(network, "localPort", PortText(s.localPort).toStdString(), "any");
    auto* rtpMin = Edit(network, "rtpPortMin", PortText(s.rtpPortMin).toStdString(), "any");
    auto* rtpMax = Edit(network, "rtpPortMax", PortText(s.rtpPortMax).toStdString(), "any");
    auto* rtpRange = new QHBoxLayout;
    rtpRange->addWidget(rtpMin);
    rtpRange->addWidget(new QLabel("to", network));
    rtpRange->addWidget(rtpMax);
    netForm->addRow("Transport", transport);
    netForm->addRow("Local SIP port", localPort);
    netForm->addRow("Audio (RTP) ports", rtpRange);
    layout->addWidget(network);

    auto* audio = new QGroupBox("Codecs, most preferred first", &dlg);
    auto* audioLayout = new QHBoxLayout(audio);
    auto* codecs = new QListWidget(audio);
    codecs->setObjectName("codecs");
    codecs->setDragDropMode(QAbstractItemView::InternalMove);
    std::vector<int> order = CodecList(s.codecs);
    for (const Codec& c : kCodecs)
        if (std::find(order.begin(), order.end(), c.payloadType) == order.end())
            order.push_back(c.payloadType);
    const std::vector<int> chosen = CodecList(s.codecs);
    for (int pt : order)
        for (const Codec& c : kCodecs)
            if (c.payloadType == pt) {
                auto* item = new QListWidgetItem(c.name, codecs);
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                item->setCheckState(std::find(chosen.begin(), chosen.end(), pt) != chosen.end()
                        ? Qt::Checked
                        : Qt::Unchecked);
            }
    codecs->setCurrentRow(0);
    auto* moves = new QVBoxLayout;
    auto* up = new QPushButton("Up", audio);
    up->setObjectName("codecUp");
    auto* down = new QPushButton("Down", audio);
    down->setObjectName("codecDown");
    moves->addWidget(up);
    moves->addWidget(down);
    moves->addStretch();
    audioLayout->addWidget(codecs);
    audioLayout->addLayout(moves);
    layout->addWidget(audio);
    auto shift = [codecs](int by) {
        const int row = codecs->currentRow();
        const int to = row + by;
        if (row < 0 || to < 0 || to >= codecs->count())
            return;
        QListWidgetItem* item = codecs->takeItem(row);
        codecs->insertItem(to, item);
        codecs->setCurrentRow(to);
    };
    QObject::connect(up, &QPushButton::clicked, &dlg, [shift] { shift(-1); });
    QObject::connect(down, &QPushButton::clicked, &dlg, [shift] { shift(1); });

    auto* problem = new QLabel(&dlg);
    problem->setObjectName("problem");
    problem->setWordWrap(true);
    problem->setStyleSheet("color: #b00020");
    problem->hide();
    layout->addWidget(problem);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);

    // The edited account, or why it cannot be saved.
    auto read = [&](SipAccountSettings* out) -> QString {
        SipAccountSettings e = s;
        e.address = address->text().trimmed().toStdString();
        e.displayName = displayName->text().trimmed().toStdString();
        e.registrar = registrar->text().trimmed().toStdString();
        e.outboundProxy = proxy->text().trimmed().toStdString();
        e.authUser = authUser->text().trimmed().toStdString();
        e.transport = transport->currentText().toLower().toStdString();
        const auto lp = ReadPort(localPort);
        if (!lp)
            return "The local SIP port must be a number from 0 to 65535 (0 or empty: any).";
        const auto lo = ReadPort(rtpMin), hi = ReadPort(rtpMax);
        if (!lo || !hi)
            return "The audio ports must be numbers from 0 to 65535 (0 or empty: any).";
        if ((*lo == 0) != (*hi == 0))
            return "Give both ends of the audio port range, or neither.";
        e.localPort = *lp;
        e.rtpPortMin = *lo;
        e.rtpPortMax = *hi;
        QStringList names;
        for (int i = 0; i < codecs->count(); ++i)
            if (codecs->item(i)->checkState() == Qt::Checked)
                names << codecs->item(i)->text();
        e.codecs = names.join(',').toStdString();
        if (const std::string p = CheckSipAccount(e); !p.empty())
            return Sentence(p);
        *out = e;
        return {};
    };
    SipAccountSettings edited;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, [&] {
        QString why = read(&edited);
        std::string error;
        if (why.isEmpty() && edited != s && !SaveSipAccount(edited, &error))
            why = Sentence(error);
        // An error text never carries the password: only the file's path.
        const std::string newPassword = password->text().toStdString();
        if (why.isEmpty() && newPassword != storedPassword
            && !SetSipPassword(accountName, newPassword, &error))
            why = Sentence(error);
        if (why.isEmpty()) {
            dlg.accept();
            return;
        }
        problem->setText(why);
        problem->show();
    });

    dlg.exec();
    return 0;
}

} // namespace zq::sip
