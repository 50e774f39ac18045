#include "desktop/kde/ActiveWindowScript.h"

#include <QRegularExpression>

namespace ActiveWindowScript {

bool isValidBusName(const QString& busName) {
    // The bus's own rules, so the name is safe inside a JavaScript string literal.
    static const QRegularExpression wellFormed(
        QStringLiteral("^(:[A-Za-z0-9_-]+(\\.[A-Za-z0-9_-]+)+|"
                       "[A-Za-z_-][A-Za-z0-9_-]*(\\.[A-Za-z_-][A-Za-z0-9_-]*)+)$"));
    return busName.size() <= 255 && wellFormed.match(busName).hasMatch();
}

QString text(const QString& busName) {
    // KWin 5 gives resourceClass as a byte array: String() makes every argument a string.
    // Nothing here keeps state beyond the window being watched for caption changes.
    return QStringLiteral(
               "// Reports the active window to Parlwick over the session bus; loaded by\n"
               "// Parlwick while it runs and unloaded when it quits.\n"
               "var service = \"%1\";\n"
               "var path = \"%2\";\n"
               "var iface = \"%3\";\n"
               "var shown = null;\n"
               "\n"
               "function send() {\n"
               "    if (shown) {\n"
               "        callDBus(service, path, iface, \"Activated\", "
               "String(shown.resourceClass),\n"
               "                 String(shown.resourceName), String(shown.caption), shown.pid);\n"
               "    } else {\n"
               "        callDBus(service, path, iface, \"Closed\");\n"
               "    }\n"
               "}\n"
               "\n"
               "function activated(window) {\n"
               "    if (shown && shown.captionChanged) {\n"
               "        shown.captionChanged.disconnect(send);\n"
               "    }\n"
               "    shown = window ? window : null;\n"
               "    if (shown && shown.captionChanged) {\n"
               "        shown.captionChanged.connect(send);\n"
               "    }\n"
               "    send();\n"
               "}\n"
               "\n"
               "if (workspace.windowActivated) {\n"
               "    workspace.windowActivated.connect(activated);\n"
               "    activated(workspace.activeWindow);\n"
               "} else {\n"
               "    workspace.clientActivated.connect(activated);\n"
               "    activated(workspace.activeClient);\n"
               "}\n")
        .arg(busName, QString::fromLatin1(objectPath), QString::fromLatin1(interfaceName));
}

QString pluginName(const QString& busName) {
    QString name = busName;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
    return QStringLiteral("parlwick-active-window-") + name;
}

} // namespace ActiveWindowScript
