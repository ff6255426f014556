// File > Publish to broker... and File > Stop publishing: the window's
// setting for sharing the session (publish/publisher.h). The dialog asks
// for the broker (mqtt://HOST[:PORT]/PREFIX, or mqtts://), a CA file and a
// login file (user name, then password: the password never sits in the
// settings); Publish starts publishing from now. The choice is remembered
// (QSettings): a station that was left publishing publishes again at its
// next start, unless --publish names a broker of its own. A remote view
// does not publish: both actions are disabled there. GUI thread only.
#pragma once

class QMainWindow;

namespace rt {

// Makes the actions ("actionPublish", "actionStopPublishing") as children of
// `frame`, for the File menu to find; starts the remembered publishing.
void add_publish_setting(QMainWindow* frame);

}  // namespace rt
