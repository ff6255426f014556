// File > Publish to broker... and File > Stop publishing: the window's
// setting for sharing the session (publish/publisher.h). The dialog asks
// for the broker (mqtt://HOST[:PORT]/PREFIX, or mqtts://), a CA file and a
// login file (user name, then password: the password never sits in the
// settings); Publish starts publishing from now. An address, CA file or
// login file that cannot be used keeps the dialog open with the reason.
// Publishing starts only when asked for in this session: the broker chosen
// last is remembered (QSettings) and offered in the dialog, never used by
// itself. Stop publishing says "publishing stopped" to the broker's
// subscribers. A remote view does not publish: both actions are disabled
// there. GUI thread only.
#pragma once

class QMainWindow;

namespace rt {

// Makes the actions ("actionPublish", "actionStopPublishing") as children of
// `frame`, for the File menu to find. The dialog's reason line is
// "publishError".
void add_publish_setting(QMainWindow* frame);

}  // namespace rt
