// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/DemoMailbox.h"

#include "core/Ansi.h"
#include "support/MailFactory.h"

#include <QBuffer>
#include <QDate>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QStringList>

namespace demo {

namespace {

enum class Kind { Personal, Newsletter, Spam };

struct Entry {
    int month, day, hour, minute;
    Kind kind;
    QString from;
    QString subject;
    QString text;
    QString html;
    QList<mailfactory::Attachment> attachments = {};
};

const QByteArray kRecipient = "Camille Durand <camille.durand@demo.example>";

// Every message was sent from France in winter time.
QByteArray rfcDate(int month, int day, int hour, int minute)
{
    const QDate date(2026, month, day);
    return QLocale::c().toString(date, QStringLiteral("ddd, dd MMM yyyy")).toLatin1() + ' ' +
           QByteArray::number(hour).rightJustified(2, '0') + ':' + QByteArray::number(minute).rightJustified(2, '0') +
           ":00 +0100";
}

// Display names with accents are encoded words, as mail programs send them.
QByteArray fromHeader(const QString &from)
{
    const qsizetype lt = from.indexOf(u'<');
    const QString name = from.left(lt).trimmed();
    bool ascii = true;
    for (QChar c : name)
        ascii = ascii && c.unicode() < 128;
    if (ascii)
        return from.toUtf8();
    return "=?UTF-8?B?" + name.toUtf8().toBase64() + "?= " + from.mid(lt).toUtf8();
}

QByteArray domainOf(const QByteArray &from)
{
    const qsizetype at = from.lastIndexOf('@');
    QByteArray domain = from.mid(at + 1);
    if (domain.endsWith('>'))
        domain.chop(1);
    return domain;
}

QByteArray traceHeaders(const Entry &e, int number)
{
    const QByteArray from = e.from.toUtf8();
    const QByteArray domain = domainOf(from);
    const QByteArray stamp = QByteArray::number(2026) + QByteArray::number(e.month).rightJustified(2, '0') +
                             QByteArray::number(e.day).rightJustified(2, '0') +
                             QByteArray::number(e.hour * 100 + e.minute).rightJustified(4, '0');
    const QByteArray queueId = QByteArray::number(0x4e21d + number * 9773, 16).toUpper();
    const QByteArray id = stamp + '.' + queueId.toLower();
    const QByteArray ip = (e.kind == Kind::Spam ? "198.51.100." : "203.0.113.") + QByteArray::number(10 + number * 7);
    const QByteArray date = rfcDate(e.month, e.day, e.hour, e.minute);

    QByteArray h = "Return-Path: <" + (e.kind == Kind::Personal ? from.mid(from.indexOf('<') + 1).chopped(1)
                                                                : "rebond-" + id + "@" + domain) + ">\r\n";
    h += "Received: from smtp." + domain + " (smtp." + domain + " [" + ip + "])\r\n"
         "\tby mx.demo.example (Postfix) with ESMTPS id " + queueId + "\r\n"
         "\tfor <camille.durand@demo.example>; " + date + " (CET)\r\n";
    h += "Message-ID: <" + id + "@" + domain + ">\r\n";
    if (e.kind == Kind::Newsletter) {
        h += "List-Id: <lettre." + domain + ">\r\n";
        h += "List-Unsubscribe: <mailto:desabonnement@" + domain + "?subject=desabonnement>\r\n";
        h += "Precedence: bulk\r\n";
    } else if (e.kind == Kind::Spam) {
        h += "Reply-To: <gestion-" + QByteArray::number(number * 31) + "@reponses.example>\r\n";
        h += "X-Priority: 1 (Highest)\r\n";
    } else {
        h += "User-Agent: Courrielleur/3.2\r\n";
    }
    return h;
}

// A tiny map of how to reach the meeting hall: a real PNG, a few hundred bytes.
QByteArray accessMapPng()
{
    QImage image(96, 64, QImage::Format_RGB32);
    image.fill(QColor(0xf4, 0xf1, 0xe8));
    {
        QPainter p(&image);
        p.setPen(QPen(QColor(0xc8, 0xc0, 0xa8), 6));
        p.drawLine(0, 40, 96, 40);
        p.drawLine(30, 0, 30, 64);
        p.setPen(QPen(QColor(0x7a, 0xa6, 0xd8), 4));
        p.drawLine(60, 0, 96, 26);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xd8, 0x3a, 0x1c));
        p.drawRect(40, 26, 10, 8);
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QList<Entry> entries()
{
    const QString gardenFooter = QStringLiteral(
        "\n\n--\nLa Lettre du Potager, chaque jeudi.\n"
        "Pour ne plus recevoir cette lettre, répondez avec « désabonnement » en objet.\n");

    return {
        {11, 26, 8, 12, Kind::Newsletter,
         "La Lettre du Potager <lettre@potager-facile.example>",
         QStringLiteral("Semis d'hiver : ce qu'il faut savoir avant décembre"),
         QStringLiteral("Bonjour,\n\n"
                        "Les jours raccourcissent, mais le potager ne s'arrête pas pour autant. Cette semaine :\n\n"
                        "- semer les fèves et les pois ronds en pleine terre, si le sol n'est pas gelé ;\n"
                        "- pailler généreusement les poireaux et les mâches ;\n"
                        "- rentrer les outils et vider les tuyaux d'arrosage.\n\n"
                        "Bonne semaine au jardin !") + gardenFooter,
         QStringLiteral("<html><body style=\"font-family:Georgia,serif;color:#333\">"
                        "<h2 style=\"color:#4a7a2c\">Semis d'hiver</h2>"
                        "<p>Bonjour,</p><p>Les jours raccourcissent, mais le potager ne s'arrête pas pour autant. "
                        "Cette semaine :</p><ul>"
                        "<li>semer les <b>fèves</b> et les <b>pois ronds</b> en pleine terre, si le sol n'est pas gelé ;</li>"
                        "<li>pailler généreusement les poireaux et les mâches ;</li>"
                        "<li>rentrer les outils et vider les tuyaux d'arrosage.</li></ul>"
                        "<p>Bonne semaine au jardin !</p>"
                        "<p style=\"font-size:small;color:#888\">La Lettre du Potager, chaque jeudi.</p>"
                        "</body></html>")},
        {11, 26, 9, 47, Kind::Personal,
         "Claire Moreau <claire.moreau@example.org>",
         QStringLiteral("Covoiturage pour samedi ?"),
         QStringLiteral("Bonjour Camille,\n\n"
                        "Pour la sortie de samedi à la chorale, je peux prendre deux personnes dans ma voiture. "
                        "Je passerai vers 13 h 30 devant la boulangerie, si cela te convient.\n\n"
                        "Bonne journée,\nClaire\n"),
         {}},
        {11, 26, 14, 3, Kind::Spam,
         "OFFRES ECLAIR <promo@promo-eclair.example>",
         QStringLiteral("Dernière chance : -80 % sur toute la boutique !!!"),
         {},
         QStringLiteral("<html><body style=\"background:#ff0;text-align:center\">"
                        "<h1 style=\"color:red\">-80 % SUR TOUT !!!</h1>"
                        "<p>Offre réservée aux 100 premiers clients. Ne réfléchissez plus, "
                        "<a href=\"http://promo-eclair.example/c?u=8812\">cliquez ici</a> maintenant !</p>"
                        "<p style=\"font-size:8px\">Vous recevez ce message car vous êtes un client privilégié.</p>"
                        "</body></html>")},
        {11, 27, 7, 30, Kind::Newsletter,
         "Banque Exemple <notifications@banque-exemple.example>",
         QStringLiteral("Votre relevé de compte de novembre est disponible"),
         QStringLiteral("Madame, Monsieur,\n\n"
                        "Votre relevé de compte du mois de novembre est disponible dans votre espace client.\n"
                        "Pour votre sécurité, nous ne vous demanderons jamais vos codes par courriel.\n\n"
                        "Votre conseiller reste à votre disposition.\n\nBanque Exemple\n"),
         QStringLiteral("<html><body style=\"font-family:Arial,sans-serif\">"
                        "<p>Madame, Monsieur,</p>"
                        "<p>Votre <b>relevé de compte du mois de novembre</b> est disponible dans votre espace client.</p>"
                        "<p><i>Pour votre sécurité, nous ne vous demanderons jamais vos codes par courriel.</i></p>"
                        "<p>Votre conseiller reste à votre disposition.</p><p>Banque Exemple</p>"
                        "</body></html>")},
        {11, 27, 11, 18, Kind::Spam,
         "Service des Gains <resultats@gains-garantis.example>",
         QStringLiteral("Félicitations ! Vous êtes l'heureux gagnant de 850 000 €"),
         QStringLiteral("Cher(e) gagnant(e),\n\n"
                        "Votre adresse électronique a été tirée au sort lors de notre grande loterie internationale. "
                        "Pour recevoir vos 850 000 €, il vous suffit de régler les frais de dossier de 49 € "
                        "et de nous communiquer vos coordonnées bancaires complètes.\n\n"
                        "Répondez sous 48 heures, faute de quoi votre gain sera attribué à un autre participant.\n\n"
                        "Le Service des Gains\n"),
         {}},
        {11, 27, 18, 40, Kind::Personal,
         "Mairie de Saint-Exemple <accueil@mairie-saint-exemple.example>",
         QStringLiteral("Marché de Noël : appel aux bénévoles"),
         QStringLiteral("Bonjour,\n\n"
                        "Le marché de Noël aura lieu sur la place de l'Église les 12 et 13 décembre. "
                        "Nous cherchons encore des bénévoles pour l'installation des chalets (vendredi 11 au soir) "
                        "et pour tenir la buvette au profit de l'école.\n\n"
                        "Inscriptions à l'accueil de la mairie ou par retour de courriel.\n\n"
                        "Merci d'avance,\nLe service animation\n"),
         {}},
        {11, 28, 9, 5, Kind::Newsletter,
         "Librairie des Quais <nouvelles@librairie-des-quais.example>",
         QStringLiteral("Nos coups de cœur de la semaine"),
         {},
         QStringLiteral("<html><body style=\"font-family:Georgia,serif;max-width:600px\">"
                        "<h2>Nos coups de cœur</h2>"
                        "<p><b>Un hiver en Bretagne</b> — un roman tendre et drôle sur une famille qui "
                        "rouvre la vieille auberge du bord de mer.</p>"
                        "<p><b>Les oiseaux du jardin</b> — le guide illustré qu'on garde près de la fenêtre.</p>"
                        "<p>Séance de dédicaces samedi 5 décembre à partir de 15 h.</p>"
                        "<p style=\"color:#777\">Librairie des Quais, 4 quai des Tanneurs.</p>"
                        "</body></html>")},
        {11, 28, 16, 22, Kind::Spam,
         "OFFRES ECLAIR <cadeaux@promo-eclair.example>",
         QStringLiteral("Votre cadeau vous attend (dernier rappel)"),
         {},
         QStringLiteral("<html><body><h1 style=\"color:#c00\">VOTRE CADEAU EXPIRE CE SOIR</h1>"
                        "<p>Un smartphone dernier cri vous est réservé. Confirmez simplement votre adresse "
                        "et réglez 1 € de frais de port.</p>"
                        "<p><a href=\"http://promo-eclair.example/cadeau\">JE RÉCUPÈRE MON CADEAU</a></p>"
                        "</body></html>")},
        {11, 29, 10, 10, Kind::Personal,
         "Jean Lefèvre <jean.lefevre@example.net>",
         QStringLiteral("Re: Repas de dimanche"),
         QStringLiteral("Parfait, nous apporterons le dessert : une tarte aux pommes et peut-être des crêpes.\n"
                        "À dimanche !\n\nJean\n\n"
                        "Le 28/11/2026 à 20:14, Camille Durand a écrit :\n"
                        "> Nous serons huit à table, vers midi et demi.\n"
                        "> Est-ce que vous pourriez vous occuper du dessert ?\n"),
         {}},
        {11, 29, 21, 55, Kind::Spam,
         "Pharmacie Discount <ventes@pharma-remise.example>",
         QStringLiteral("Médicaments sans ordonnance à prix cassés"),
         {},
         QStringLiteral("<html><body><p style=\"font-size:20px\"><b>Jusqu'à -90 %</b> sur tous nos produits, "
                        "livraison discrète et sans ordonnance !</p>"
                        "<p><a href=\"http://pharma-remise.example/shop\">Commander maintenant</a></p>"
                        "</body></html>")},
        {11, 30, 8, 0, Kind::Newsletter,
         "Trains de la Région <info@trains-region.example>",
         QStringLiteral("Travaux sur la ligne : horaires modifiés du 1er au 12 décembre"),
         QStringLiteral("Bonjour,\n\n"
                        "En raison de travaux de rénovation des voies entre Val-Joli et Saint-Exemple, "
                        "les trains de 6 h 42 et de 18 h 15 seront remplacés par des cars du 1er au 12 décembre.\n"
                        "Les temps de parcours seront allongés d'environ vingt minutes.\n\n"
                        "Nous vous prions de nous excuser pour la gêne occasionnée.\n"),
         QStringLiteral("<html><body style=\"font-family:Arial,sans-serif\">"
                        "<p>Bonjour,</p>"
                        "<p>En raison de travaux de rénovation des voies entre Val-Joli et Saint-Exemple, "
                        "les trains de <b>6 h 42</b> et de <b>18 h 15</b> seront remplacés par des cars "
                        "<b>du 1er au 12 décembre</b>.</p>"
                        "<p>Les temps de parcours seront allongés d'environ vingt minutes.</p>"
                        "<p>Nous vous prions de nous excuser pour la gêne occasionnée.</p>"
                        "</body></html>")},
        {11, 30, 13, 37, Kind::Personal,
         "Sophie Bernard <secretariat@asso-randonnee.example>",
         QStringLiteral("Assemblée générale du 12 décembre : ordre du jour et plan d'accès"),
         QStringLiteral("Bonjour à toutes et à tous,\n\n"
                        "Vous trouverez ci-joint l'ordre du jour de notre assemblée générale, samedi 12 décembre "
                        "à 14 h 30 à la salle des fêtes, ainsi qu'un petit plan d'accès.\n\n"
                        "Pensez à renouveler votre adhésion avant la réunion.\n\n"
                        "Amicalement,\nSophie, pour le bureau des Randonneurs du Val\n"),
         {},
         {{QStringLiteral("ordre-du-jour.txt"),
           QByteArray("Randonneurs du Val - Assemblee generale du 12 decembre 2026\r\n"
                      "\r\n"
                      "1. Rapport moral de la presidente\r\n"
                      "2. Rapport financier et vote du budget\r\n"
                      "3. Programme des sorties du premier semestre\r\n"
                      "4. Renouvellement du bureau\r\n"
                      "5. Questions diverses\r\n"
                      "\r\n"
                      "La reunion sera suivie d'un verre de l'amitie.\r\n"),
           "text/plain; charset=us-ascii"},
          {QStringLiteral("plan-acces.png"), accessMapPng(), "image/png"}}},
        {12, 1, 9, 15, Kind::Spam,
         "Loterie Internationale <avis@gains-garantis.example>",
         QStringLiteral("Dernier avis : réclamez votre prix avant le 5 décembre"),
         QStringLiteral("DERNIER AVIS\n\n"
                        "Malgré nos précédents courriers, vous n'avez pas encore réclamé votre prix. "
                        "Sans réponse de votre part avant le 5 décembre, votre dossier sera clos définitivement.\n\n"
                        "Envoyez-nous dès aujourd'hui une copie de votre pièce d'identité.\n"),
         {}},
        {12, 1, 12, 48, Kind::Newsletter,
         "Le Panier Bio <commandes@panier-bio.example>",
         QStringLiteral("Confirmation de votre commande n° 20261201-0417"),
         QStringLiteral("Bonjour Camille,\n\n"
                        "Merci pour votre commande ! Votre panier de légumes de saison (taille moyenne) "
                        "sera prêt au point de retrait de la gare le vendredi 4 décembre à partir de 17 h.\n\n"
                        "Montant réglé : 18,50 €\n\nÀ bientôt,\nL'équipe du Panier Bio\n"),
         QStringLiteral("<html><body style=\"font-family:Verdana,sans-serif\">"
                        "<p>Bonjour Camille,</p>"
                        "<p>Merci pour votre commande ! Votre panier de légumes de saison (taille moyenne) "
                        "sera prêt au point de retrait de la gare le <b>vendredi 4 décembre</b> à partir de 17 h.</p>"
                        "<table border=\"1\" cellpadding=\"4\" style=\"border-collapse:collapse\">"
                        "<tr><td>Panier moyen</td><td>16,00 €</td></tr>"
                        "<tr><td>Œufs fermiers (6)</td><td>2,50 €</td></tr>"
                        "<tr><th>Total</th><th>18,50 €</th></tr></table>"
                        "<p>À bientôt,<br>L'équipe du Panier Bio</p>"
                        "</body></html>")},
        {12, 2, 7, 45, Kind::Newsletter,
         "Météo Locale <alertes@meteo-locale.example>",
         QStringLiteral("Vigilance orange : vent fort et pluie cette nuit"),
         QStringLiteral("Vigilance orange vent et pluie-inondation pour votre département, "
                        "de ce soir 20 h à demain 10 h.\n\n"
                        "Rafales attendues : 90 à 110 km/h sur les côtes, 80 km/h dans les terres.\n"
                        "Limitez vos déplacements et rangez les objets susceptibles d'être emportés.\n"),
         {}},
        {12, 2, 17, 2, Kind::Spam,
         "OFFRES ECLAIR <promo@promo-eclair.example>",
         QStringLiteral("Écrans, montres, casques : tout à moins de 10 €"),
         {},
         QStringLiteral("<html><body style=\"background:#000;color:#0f0\">"
                        "<h1>TOUT À MOINS DE 10 € !!!</h1>"
                        "<p>Stocks limités. <a href=\"http://promo-eclair.example/vente\">Voir les offres</a></p>"
                        "</body></html>")},
        {12, 3, 10, 30, Kind::Personal,
         "Claire Moreau <claire.moreau@example.org>",
         QStringLiteral("Re: Covoiturage pour samedi ?"),
         QStringLiteral("C'est noté, merci ! Je te dépose au retour, vers 18 h.\n\nClaire\n\n"
                        "> Avec plaisir, je serai devant la boulangerie à 13 h 30.\n"),
         {}},
        {12, 4, 8, 20, Kind::Newsletter,
         "La Lettre du Potager <lettre@potager-facile.example>",
         QStringLiteral("Décembre au jardin : protéger les plantes du gel"),
         QStringLiteral("Bonjour,\n\n"
                        "Les premières gelées sont annoncées. Voici nos conseils :\n\n"
                        "- rentrer les pots d'agrumes et de géraniums dans un local clair et hors gel ;\n"
                        "- couvrir les artichauts d'un bon paillis de feuilles mortes ;\n"
                        "- poser un voile d'hivernage sur les salades.\n") + gardenFooter,
         QStringLiteral("<html><body style=\"font-family:Georgia,serif;color:#333\">"
                        "<h2 style=\"color:#2c5a7a\">Décembre au jardin</h2>"
                        "<p>Bonjour,</p><p>Les premières gelées sont annoncées. Voici nos conseils :</p><ul>"
                        "<li>rentrer les pots d'agrumes et de géraniums dans un local clair et hors gel ;</li>"
                        "<li>couvrir les artichauts d'un bon paillis de feuilles mortes ;</li>"
                        "<li>poser un voile d'hivernage sur les salades.</li></ul>"
                        "<p style=\"font-size:small;color:#888\">La Lettre du Potager, chaque jeudi.</p>"
                        "</body></html>")},
        {12, 5, 19, 11, Kind::Spam,
         "Pharmacie Discount <ventes@pharma-remise.example>",
         QStringLiteral("Cure minceur miracle : -10 kg avant les fêtes"),
         {},
         QStringLiteral("<html><body><h2>Perdez 10 kg en 10 jours sans effort !</h2>"
                        "<p>Notre formule secrète fait fondre les kilos pendant votre sommeil.</p>"
                        "<p><a href=\"http://pharma-remise.example/minceur\">Profitez de l'offre</a></p>"
                        "</body></html>")},
        {12, 6, 15, 26, Kind::Newsletter,
         "Hébergeur Exemple <support@hebergeur-exemple.example>",
         QStringLiteral("Maintenance programmée de nos serveurs le 8 décembre"),
         QStringLiteral("Bonjour,\n\n"
                        "Une opération de maintenance aura lieu le mardi 8 décembre entre 2 h et 4 h du matin. "
                        "La consultation de votre messagerie pourra être interrompue quelques minutes.\n\n"
                        "Aucune action n'est nécessaire de votre part.\n\nLe support technique\n"),
         QStringLiteral("<html><body style=\"font-family:Arial,sans-serif\">"
                        "<p>Bonjour,</p>"
                        "<p>Une opération de maintenance aura lieu le <b>mardi 8 décembre entre 2 h et 4 h</b> du matin. "
                        "La consultation de votre messagerie pourra être interrompue quelques minutes.</p>"
                        "<p>Aucune action n'est nécessaire de votre part.</p><p>Le support technique</p>"
                        "</body></html>")},
        {12, 7, 8, 55, Kind::Personal,
         "Médiathèque de Saint-Exemple <mediatheque@ville-exemple.example>",
         QStringLiteral("Rappel : vos documents sont à rendre avant le 10 décembre"),
         QStringLiteral("Bonjour,\n\n"
                        "Les documents suivants sont à rendre avant le 10 décembre :\n\n"
                        "- « Les oiseaux du jardin » (livre)\n"
                        "- « Concerts de l'hiver » (CD)\n\n"
                        "Vous pouvez les prolonger une fois depuis votre compte lecteur ou à l'accueil.\n\n"
                        "Bonne lecture,\nLa médiathèque\n"),
         {}},
    };
}

} // namespace

QList<QByteArray> messages()
{
    QList<QByteArray> out;
    const QList<Entry> list = entries();
    for (int i = 0; i < list.size(); ++i) {
        const Entry &e = list[i];
        mailfactory::Mail m;
        m.from = fromHeader(e.from);
        m.to = kRecipient;
        m.subject = e.subject;
        m.date = rfcDate(e.month, e.day, e.hour, e.minute);
        m.text = e.text;
        m.html = e.html;
        m.attachments = e.attachments;
        m.extraHeaders = traceHeaders(e, i + 1);
        out << mailfactory::build(m);
    }
    return out;
}

QByteArray address()
{
    return "camille.durand@demo.example";
}

QByteArray blacklist()
{
    // Domain parts as a user would type them; the last one has not caught anything yet.
    const QStringList patterns = {
        QStringLiteral("@promo-eclair.example"),
        QStringLiteral("gains-garantis.example"),
        QStringLiteral("pharma-remise"),
        QStringLiteral("casino-en-ligne.example"),
    };
    QByteArray out;
    for (const QString &p : patterns)
        out += ansi::fromUnicode(p) + "\t00/00/0000\r\n";
    return out;
}

QList<int> spamNumbers()
{
    QList<int> out;
    const QList<Entry> list = entries();
    for (int i = 0; i < list.size(); ++i)
        if (list[i].kind == Kind::Spam)
            out << i + 1;
    return out;
}

} // namespace demo
