// Every text the application shows or writes, in one place.
#pragma once

namespace velmora::texts {

inline constexpr const char* kProductName = "Velmóra";
inline constexpr const char* kBackgroundActivityReason = "Surveillance des notifications Velmóra";

// Application menu.
inline constexpr const char* kAboutPrefix = "À propos de Velmóra — version ";
inline constexpr const char* kAboutVersionPrefix = "Version ";
inline constexpr const char* kAboutComments = "La console d’administration de votre espace, avec ses notifications.";
inline constexpr const char* kCheckForUpdates = "Rechercher les mises à jour…";
inline constexpr const char* kQuit = "Quitter Velmóra";
inline constexpr const char* kLoginStartInitial = "Démarrage automatique…";
inline constexpr const char* kTestNotice = "Tester la notification Velmóra";
inline constexpr const char* kStopService = "Arrêter Velmóra et les notifications";

// Status of the notification service.
inline constexpr const char* kStatusSignInNeeded = "Notifications : connexion nécessaire";
inline constexpr const char* kStatusActive = "Notifications synchronisées : actives";
inline constexpr const char* kStatusOpenToSignIn = "Notifications : ouvrez Velmóra pour vous connecter";
inline constexpr const char* kStatusCheckAuthorisation = "Notifications : autorisation à vérifier";
inline constexpr const char* kStatusRetrying = "Connexion en cours — nouvelle tentative automatique";

// The icon in the tray: its menu's own item, and the unread count under the status in its tooltip.
inline constexpr const char* kOpenWindow = "Ouvrir Velmóra";
inline constexpr const char* kUnreadNone = "Aucune notification non lue";
inline constexpr const char* kUnreadOne = "1 notification non lue";
inline constexpr const char* kUnreadManySuffix = " notifications non lues";

// Login start.
inline constexpr const char* kLoginStartEnabled = "Démarrage automatique : activé";
inline constexpr const char* kLoginStartNeedsApproval = "Démarrage automatique : autoriser dans Réglages";
inline constexpr const char* kLoginStartOff = "Activer le démarrage automatique";
inline constexpr const char* kLoginStartAlertMessage = "Démarrage automatique indisponible";
inline constexpr const char* kLoginStartAlertInformative =
    "Activez Velmóra dans les applications au démarrage des paramètres de votre session.";

// Test notification.
inline constexpr const char* kTestNoticeTitle = "Essai Velmóra";
inline constexpr const char* kTestNoticeBody = "Les notifications sont assurées par Velmóra sur cet ordinateur.";
inline constexpr const char* kTestNoticeIdPrefix = "velmora-notification-test-";
inline constexpr const char* kDefaultNoticeTitle = "Velmóra";

// Web dialogs.
inline constexpr const char* kConfirm = "Confirmer";
inline constexpr const char* kCancel = "Annuler";
inline constexpr const char* kValidate = "Valider";

// Log lines; the error's own text follows.
inline constexpr const char* kLogConnectionUnavailable = "Velmóra: connexion temporairement indisponible: ";
inline constexpr const char* kLogLoginStartUnavailable = "Velmóra: démarrage automatique indisponible: ";
inline constexpr const char* kLogAppEntryUnavailable = "Velmóra: nom et icône de l’application non inscrits: ";
inline constexpr const char* kLogRelaunchUnavailable = "Velmóra: automatic relaunch unavailable: ";

}  // namespace velmora::texts
