// Sonvale: turns audio CDs into music files and converts files between formats.

#include "Application.h"
#include "MediaMonitor.h"
#include "MinorDialogs.h"
#include "QtDialogs.h"
#include "main.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
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
