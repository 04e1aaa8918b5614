// Sonvale: turns audio CDs into music files and converts files between formats.

#include "Application.h"
#include "MediaMonitor.h"
#include "QtDialogs.h"
#include "main.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    QtDialogs dialogs;
    app.SetDialogs(&dialogs);
    TMainForm form(dialogs, CreateMediaMonitor());
    form.show();
    return app.exec();
}
