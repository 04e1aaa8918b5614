// Sonvale: turns audio CDs into music files and converts files between formats.

#include "Application.h"
#include "MediaMonitor.h"
#include "MinorDialogs.h"
#include "QtDialogs.h"
#include "main.h"

#include <string>

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    // "--write-icon FILE": the program's icon as a PNG, for the desktop's menu entry.
    if (argc == 3 && std::string(argv[1]) == "--write-icon")
        return SonvaleIcon(128).save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
    QtDialogs dialogs;
    app.SetDialogs(&dialogs);
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128})
        icon.addPixmap(SonvaleIcon(size));
    app.setWindowIcon(icon);
    TMainForm form(dialogs, CreateMediaMonitor());
    form.show();
    return app.exec();
}
