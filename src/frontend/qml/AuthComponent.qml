import QtQuick
import backend.UserAuth 1.0

// The main window's account controller and what its signals do to the window.
UserAuth {
    onNeedLogin: {
        authLayer.showLogin(signedInEmail(), "")
        initialLoader.visible = false
        prop.isActiveProduct = false
        // Plain assignments: from now on the window keeps this size when the scale changes.
        app.minimumWidth = 400 * scf
        app.minimumHeight = 430 * scf
    }
    onNoNeedLogin: {
        initialLoader.visible = false
        backendLoader.userSignedIn()
    }
    onFieldError: (field) => authLayer.setFieldError(field)
    onAuthSuccess: {
        initialLoader.visible = false
        prop.isActiveProduct = true
        // Bound again, as at start-up, so that "Reset Gui Resizing" resizes the signed-in window.
        app.minimumWidth = Qt.binding(() => 470 * app.scf)
        app.minimumHeight = Qt.binding(() => 210 * app.scf)
        authLayer.resetAllFields()
        backendLoader.userSignedIn()
    }
    onShowRecoverCode: {
        authLayer.resetAllFields()
        authLayer.layerMode = "code_form"
    }
    onAllowResetPassword: {
        authLayer.resetAllFields()
        authLayer.layerMode = "basic"
        authLayer.mode = "create new password"
    }
    onShowLoginAgain: authLayer.showLogin(recoveredEmail(),
                                          "Your password has been changed. Please sign in with the new password.")
}
