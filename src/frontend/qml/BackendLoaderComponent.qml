import QtQuick
import backend.BackendLoader 1.0

BackendLoader {
    // Where the main window stood when another window took over: a window manager may place a
    // window that is shown again anywhere, so it is put back there.
    property point lastPosition

    onHideMainWindow: {
        lastPosition = Qt.point(app.x, app.y)
        app.visible = false
    }
    onShowMainWindow: {
        app.x = lastPosition.x
        app.y = lastPosition.y
        app.visible = true
        app.x = lastPosition.x
        app.y = lastPosition.y
    }
    onScfChanged: (newScf) => app.scf = newScf
    onFileCheck: (busy) => initialLoader.visible = busy
}
