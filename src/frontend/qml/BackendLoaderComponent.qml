import QtQuick
import backend.BackendLoader 1.0

BackendLoader {
    onHideMainWindow: app.visible = false
    onShowMainWindow: app.visible = true
    onScfChanged: (newScf) => app.scf = newScf
}
