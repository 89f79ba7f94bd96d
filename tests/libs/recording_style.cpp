// A style plugin that records that it was loaded and ends the program, to
// show whether the toolkit loaded the user's own code.
#include <QStylePlugin>
#include <cstdio>
#include <cstdlib>

class RecordingStyle : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "recording_style.json")
  public:
    QStyle *create(const QString &) override
    {
        if (const char *path = std::getenv("PORTPANEL_RECORD"))
            if (FILE *file = std::fopen(path, "a")) {
                std::fputs("style plugin loaded\n", file);
                std::fclose(file);
            }
        std::_Exit(77);
    }
};

#include "recording_style.moc"
