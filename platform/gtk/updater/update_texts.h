// Every text the updater shows, in one place. The reasons complete the sentences of the two
// failure messages, after their colon.
#pragma once

namespace gtk::update_texts {

// The offer of a newer build.
inline constexpr const char* kOfferTitle = "Mise à jour de Velmóra";
inline constexpr const char* kOfferMessage = "Une nouvelle version de Velmóra est disponible";
inline constexpr const char* kOfferVersionPrefix = "Version ";
inline constexpr const char* kOfferRunningPrefix = " — vous utilisez la version ";
inline constexpr const char* kInstallAndRelaunch = "Installer et relancer";
inline constexpr const char* kLater = "Plus tard";

// The download of an accepted offer, under the offer's title.
inline constexpr const char* kDownloading = "Téléchargement de la mise à jour…";
inline constexpr const char* kCancel = "Annuler";

// Outcomes of a check the user asked for, and of an installation.
inline constexpr const char* kOutcomeTitle = "Mises à jour de Velmóra";
inline constexpr const char* kUpToDate = "Velmóra est à jour.";
inline constexpr const char* kUpToDatePrefix = "Vous utilisez la version ";
inline constexpr const char* kCheckFailedPrefix = "Impossible de vérifier les mises à jour : ";
inline constexpr const char* kInstallFailedPrefix = "La mise à jour n’a pas pu être installée : ";
inline constexpr const char* kOk = "OK";
// A copy in a folder the user cannot write, which the updater could not replace.
inline constexpr const char* kCannotUpdateItself = "Velmóra ne peut pas se mettre à jour lui-même.";
inline constexpr const char* kFolderNotWritablePrefix = "Le dossier « ";
inline constexpr const char* kFolderNotWritableSuffix =
    " » n’est pas modifiable par votre compte : demandez à la personne qui y a installé Velmóra de le mettre à "
    "jour.";
// A copy installed by the Debian package.
inline constexpr const char* kUpdatedBySystem = "Velmóra est mis à jour par les mises à jour logicielles du système.";
inline constexpr const char* kUpdatedBySystemDetail =
    "Cette copie a été installée par le paquet « velmora » : ses nouvelles versions arrivent avec les mises à "
    "jour du système, puis Velmóra redémarre de lui-même.";

// Reasons a check fails.
inline constexpr const char* kNoFeed = "aucune adresse de mises à jour n’est configurée.";
inline constexpr const char* kNoKey = "aucune clé de vérification des mises à jour n’est configurée.";
inline constexpr const char* kUnreachable = "le serveur des mises à jour ne répond pas.";
inline constexpr const char* kHttpStatusPrefix = "le serveur des mises à jour a répondu par l’erreur ";
inline constexpr const char* kFeedUnreadable = "la description de la mise à jour est illisible.";
inline constexpr const char* kFeedFieldPrefix = "la description de la mise à jour est invalide (champ « ";
inline constexpr const char* kFeedFieldSuffix = " »).";
inline constexpr const char* kFeedTooLarge = "la description de la mise à jour est trop volumineuse.";
inline constexpr const char* kFeedNotSigned = "la description de la mise à jour n’est pas signée correctement.";
inline constexpr const char* kNotHttps = "le serveur des mises à jour a renvoyé vers une adresse non sécurisée.";

// Reasons an installation fails.
inline constexpr const char* kArchiveUnreachable = "l’archive de la mise à jour n’a pas pu être téléchargée.";
inline constexpr const char* kSizeMismatch = "la taille de l’archive ne correspond pas à celle annoncée.";
inline constexpr const char* kDigestMismatch = "l’empreinte de l’archive ne correspond pas à celle annoncée.";
inline constexpr const char* kUnpackFailed = "l’archive est endommagée ou incomplète.";
inline constexpr const char* kUnpackWriteFailed = "les fichiers de l’archive n’ont pas pu être écrits.";
inline constexpr const char* kForbiddenEntryPrefix = "l’archive contient un chemin interdit : ";
inline constexpr const char* kArchiveTooLarge = "l’archive décompressée dépasse la taille permise.";
inline constexpr const char* kNoBundleInArchive = "l’archive ne contient pas d’application Velmóra utilisable.";
inline constexpr const char* kOtherApplication = "l’archive contient une autre application.";
inline constexpr const char* kNotNewer = "l’archive ne contient pas une version plus récente.";
inline constexpr const char* kNoStagingFolder = "aucun dossier temporaire n’a pu être créé à côté de l’application.";
inline constexpr const char* kFlushFailedPrefix = "la nouvelle version n’a pas pu être écrite sur le disque (";
inline constexpr const char* kSwapFailedPrefix = "l’application n’a pas pu être remplacée (";
inline constexpr const char* kRelaunchFailedPrefix = "le redémarrage n’a pas pu être lancé (";
inline constexpr const char* kDetailSuffix = ").";

// The line a check the user did not ask for writes to the log when it fails, before its reason.
inline constexpr const char* kLogCheckFailed = "Velmóra: recherche de mises à jour impossible: ";

}  // namespace gtk::update_texts
