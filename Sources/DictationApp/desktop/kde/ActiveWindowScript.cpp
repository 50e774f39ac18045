#include "desktop/kde/ActiveWindowScript.h"

#include <QRegularExpression>

namespace ActiveWindowScript {

bool isValidBusName(const QString& busName) {
    // The bus's own rules, so the name is safe inside a JavaScript string literal.
    static const QRegularExpression wellFormed(QRegularExpression::anchoredPattern(
        QStringLiteral(":[A-Za-z0-9_-]+(\\.[A-Za-z0-9_-]+)+|"
                       "[A-Za-z_-][A-Za-z0-9_-]*(\\.[A-Za-z_-][A-Za-z0-9_-]*)+")));
    return busName.size() <= 255 && wellFormed.match(busName).hasMatch();
}

QString text(const QString& busName) {
    // KWin 5 declares resourceClass and resourceName as byte arrays, which a JavaScript engine
    // hands over as an ArrayBuffer; KWin 6 as strings. text() makes every argument a string,
    // and a window without a process still reports a number.
    return QStringLiteral(
               "// Reports the active window to Parlwick over the session bus; loaded by\n"
               "// Parlwick while it runs and unloaded when it quits.\n"
               "var service = \"%1\";\n"
               "var path = \"%2\";\n"
               "var iface = \"%3\";\n"
               "var shown = null;\n"
               "\n"
               "function text(value) {\n"
               "    if (value instanceof ArrayBuffer) {\n"
               "        var bytes = new Uint8Array(value);\n"
               "        var result = \"\";\n"
               "        for (var i = 0; i < bytes.length; ++i) {\n"
               "            result += String.fromCharCode(bytes[i]);\n"
               "        }\n"
               "        return result;\n"
               "    }\n"
               "    return value === undefined || value === null ? \"\" : String(value);\n"
               "}\n"
               "\n"
               "function send() {\n"
               "    if (shown) {\n"
               "        callDBus(service, path, iface, \"Activated\", text(shown.resourceClass),\n"
               "                 text(shown.resourceName), text(shown.caption), Number(shown.pid) "
               "|| 0);\n"
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
