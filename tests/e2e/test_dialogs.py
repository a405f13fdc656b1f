"""The page's dialogs, file choosing, downloads and printing end to end, answered at the keyboard
as a user would: confirm, prompt and alert; a file input; a download's destination; the console's
print buttons, a PDF sent by the page, and what the page hears after printing."""

import os
import time
import urllib.parse

import dialogs_e2e as dialogs
import velmora_e2e as e2e

DIALOGS_PAGE = dialogs.instance_url("/test/dialogs.html?auto=%s")


class Dialogs(e2e.EndToEndTest):
    loopback = "127.0.0.16"

    def start_on(self, url, env=None):
        """Starts Velmora with its first page sent on to `url`."""
        self.service.control("redirect", {"host": e2e.PUBLIC_HOST, "path": "/connexion.html", "location": url})
        app = self.start_app(env=env)
        e2e.wait_for(app.windows, what="the window")
        return app

    def dialog_result(self, app, dialog, url, keys=(), text=None):
        """Opens `url`, answers its dialog with `text` and `keys`, and returns what the page got."""
        since = dialogs.now_ms()
        if app is None:
            app = self.start_on(url)
        else:
            dialogs.open_page(self, app, url)
        window = dialogs.wait_for_dialog(app, what="the %s dialog" % dialog)
        dialogs.answer(app, window, text=text, keys=keys)
        report = dialogs.wait_for_report(self.service, "dialogs", lambda r: r.get("dialog") == dialog, since,
                                         what="the page's %s result" % dialog)
        dialogs.wait_for_no_dialog(app)
        return app, report["result"]

    def test_a_confirmation_is_true_with_confirmer_and_false_with_annuler_or_escape(self):
        url = DIALOGS_PAGE % "confirm"
        app, result = self.dialog_result(None, "confirm", url, keys=["Return"])
        self.assertIs(result, True, "Return presses the default button, Confirmer")
        app, result = self.dialog_result(app, "confirm", url, keys=["Tab", "space"])
        self.assertIs(result, False, "the next button is Annuler")
        app, result = self.dialog_result(app, "confirm", url, keys=["Escape"])
        self.assertIs(result, False)

    def test_a_prompt_shows_its_default_text_and_answers_the_field_or_null(self):
        url = DIALOGS_PAGE % "prompt-default"
        app, result = self.dialog_result(None, "prompt-default", url, keys=["Return"])
        self.assertEqual(result, "Camille Durand", "the field holds the default text; Return presses Valider")
        app, result = self.dialog_result(app, "prompt-default", url, keys=["ctrl+a", "BackSpace", "Return"])
        self.assertEqual(result, "", "a cleared field answers the empty text, not null")
        app, result = self.dialog_result(app, "prompt-default", url, keys=["Tab", "Tab", "space"])
        self.assertIsNone(result, "Annuler answers null")
        app, result = self.dialog_result(app, "prompt-default", url, keys=["Escape"])
        self.assertIsNone(result)

    def test_a_prompt_without_default_text_shows_an_empty_field(self):
        url = DIALOGS_PAGE % "prompt-empty"
        app, result = self.dialog_result(None, "prompt-empty", url, text="Rappeler jeudi", keys=["Return"])
        self.assertEqual(result, "Rappeler jeudi")
        app, result = self.dialog_result(app, "prompt-empty", url, keys=["Return"])
        self.assertEqual(result, "")

    def test_an_alert_holds_the_page_until_it_is_closed(self):
        since = dialogs.now_ms()
        app = self.start_on(DIALOGS_PAGE % "alert")
        window = dialogs.wait_for_dialog(app, what="the alert")
        time.sleep(0.5)
        self.assertEqual(dialogs.reports(self.service, "dialogs", since), [], "the page waits for the answer")
        dialogs.answer(app, window, keys=["Return"])
        report = dialogs.wait_for_report(self.service, "dialogs", lambda r: r.get("dialog") == "alert", since)
        self.assertEqual(report["result"], "fermée")
        dialogs.wait_for_no_dialog(app)

    def test_an_alert_of_an_embedded_frame_of_another_host_is_shown_alike(self):
        since = dialogs.now_ms()
        # The test certificate names the service's own hosts only: the other host is the other instance.
        inner = "https://cabinet.velmora.fr/test/dialogs.html?auto=alert"
        app = self.start_on(dialogs.instance_url("/test/iframe.html?src=" + urllib.parse.quote(inner, safe="")))
        window = dialogs.wait_for_dialog(app, what="the frame's alert")
        dialogs.answer(app, window, keys=["Return"])
        report = dialogs.wait_for_report(self.service, "dialogs", lambda r: r.get("dialog") == "alert", since)
        self.assertEqual(report["frame"], "sub")
        self.assertEqual(self.service.control("reports?page=dialogs")["reports"][-1]["host"], "cabinet.velmora.fr")
        dialogs.wait_for_no_dialog(app)

    def test_several_files_are_chosen_for_a_multiple_input(self):
        folder = os.path.join(self.home, "pièces")
        os.makedirs(folder)
        for name, text in (("devis.txt", "Devis 12 €\n"), ("photo-salon.txt", "photo\n")):
            with open(os.path.join(folder, name), "w") as out:
                out.write(text)
        since = dialogs.now_ms()
        app = self.start_on(dialogs.instance_url("/test/upload.html"))
        window = app.windows()[0]
        e2e.wait_for(lambda: self.requested(e2e.INSTANCE_HOST, "/test/upload.html"), what="the upload page")
        time.sleep(1.0)  # the page is shown
        # The first control of the page is the input that takes several files.
        dialogs.answer(app, window, keys=["Tab", "space"])
        chooser = dialogs.wait_for_dialog(app, what="the file chooser")
        self.assertEqual(dialogs.window_name(app, chooser), "Choisir des fichiers")
        dialogs.answer(app, chooser, keys=["ctrl+l"])
        dialogs.answer(app, chooser, text=folder + "/", keys=["Return"])
        time.sleep(1.0)  # the folder is listed, and its list has the keyboard
        # Every file of the list, then "Ouvrir" by its mnemonic (Return would open the row under the cursor).
        dialogs.answer(app, chooser, keys=["ctrl+a", "alt+o"])
        report = dialogs.wait_for_report(self.service, "upload", lambda r: r.get("input") == "files", since,
                                         what="the files the page received")
        self.assertEqual(sorted((f["name"], f["size"]) for f in report["files"]),
                         [("devis.txt", len("Devis 12 €\n".encode())), ("photo-salon.txt", len("photo\n"))])
        dialogs.wait_for_no_dialog(app)

    def save_download(self, app, folder, typed_folder=None):
        """Confirms the save dialog of a download with Return, after typing `typed_folder` in front
        of the suggested name when given, and returns the file saved into `folder` once complete."""
        chooser = dialogs.wait_for_dialog(app, what="the save dialog")
        self.assertEqual(dialogs.window_name(app, chooser), "Enregistrer le fichier")
        time.sleep(0.5)  # the folder is listed
        if typed_folder:
            # The name field holds the suggested name; the folder goes in front of it.
            dialogs.answer(app, chooser, keys=["Home"])
        dialogs.answer(app, chooser, text=typed_folder and typed_folder + "/", keys=["Return"])
        saved = os.path.join(folder, "facture-2026.txt")
        e2e.wait_for(lambda: os.path.exists(saved) and os.path.getsize(saved) > 0, what="the download in " + folder)
        dialogs.wait_for_no_dialog(app)
        return saved

    def test_a_download_is_saved_in_the_download_folder_then_beside_the_one_saved_last(self):
        downloads = os.path.join(self.home, "Téléchargements")
        elsewhere = os.path.join(self.home, "factures")
        for folder in (downloads, elsewhere, os.path.join(self.home, "config")):
            os.makedirs(folder, exist_ok=True)
        # The user's folders as xdg-user-dirs writes them for a French session.
        with open(os.path.join(self.home, "config", "user-dirs.dirs"), "w", encoding="utf-8") as out:
            out.write('XDG_DESKTOP_DIR="$HOME/Bureau"\nXDG_DOWNLOAD_DIR="$HOME/Téléchargements"\n')
        url = dialogs.instance_url("/test/save.html?auto=facture")
        app = self.start_on(url)
        # The name is only confirmed: the download lands in the download folder, not where the
        # program was started from.
        with open(self.save_download(app, downloads), encoding="utf-8") as text:
            self.assertIn("Facture n° 2026-001", text.read())
        dialogs.open_page(self, app, url)
        filed = self.save_download(app, elsewhere, typed_folder=elsewhere)
        # Filed away, so that only a dialog open in that folder can save the next one there.
        os.remove(filed)
        dialogs.open_page(self, app, url)
        self.save_download(app, elsewhere)
        self.assertEqual(os.listdir(downloads), ["facture-2026.txt"])
        self.assertEqual([name for name in os.listdir(os.getcwd()) if "facture" in name], [])

    def test_a_cancelled_download_leaves_no_file(self):
        app = self.start_on(dialogs.instance_url("/test/save.html?auto=facture"))
        chooser = dialogs.wait_for_dialog(app, what="the save dialog")
        dialogs.answer(app, chooser, keys=["Escape"])
        dialogs.wait_for_no_dialog(app)
        time.sleep(1.0)
        left = [os.path.join(root, name) for root, _, names in os.walk(self.home) for name in names
                if "facture" in name]
        left += [name for name in os.listdir(os.getcwd()) if "facture" in name]
        self.assertEqual(left, [])
        self.assertTrue(app.alive())

    def test_the_consoles_exports_are_saved_and_the_console_stays(self):
        """A CSV export the server sends as an attachment, and an archive the view cannot show:
        each opens the save dialog; the console is neither replaced nor taken for a failed load."""
        app, _ = self.start_signed_in()
        for kind in ("csv", "zip"):
            with self.subTest(export=kind):
                since = dialogs.now_ms()
                dialogs.open_page(self, app, dialogs.instance_url("/admin?exporter=" + kind))
                e2e.wait_for(lambda: dialogs.beacons(self.service, e2e.INSTANCE_HOST, "load", since),
                             what="the console loaded")
                chooser = dialogs.wait_for_dialog(app, what="the save dialog")
                self.assertEqual(dialogs.window_name(app, chooser), "Enregistrer le fichier")
                time.sleep(1.0)
                dialogs.answer(app, chooser, keys=["Escape"])
                dialogs.wait_for_no_dialog(app)
                time.sleep(1.0)
                # The console that was there before went away; the one that exported stayed.
                self.assertEqual(len(dialogs.beacons(self.service, e2e.INSTANCE_HOST, "pagehide", since)), 1)
                self.assertNotIn("Connexion en cours", app.menu_items())
        with open(os.path.join(self.home, "velmora.log"), errors="replace") as log:
            self.assertNotIn("connexion temporairement indisponible", log.read())

    # ---- Printing ----

    def start_signed_in(self):
        """Starts Velmora for a user who signed in before, on the console, and returns it with the
        user's documents folder, where GTK's file printer puts what it prints."""
        dialogs.seed_returning_user(self.home)
        documents = os.path.join(self.home, "Documents")
        os.makedirs(documents)
        with open(os.path.join(self.home, "config", "user-dirs.dirs"), "w", encoding="utf-8") as out:
            out.write('XDG_DOCUMENTS_DIR="$HOME/Documents"\n')
        self.service.control("redirect", {"host": e2e.INSTANCE_HOST, "path": "/admin",
                                          "location": dialogs.sign_in_link(self.service)})
        since = dialogs.now_ms()
        app = self.start_app()
        e2e.wait_for(lambda: dialogs.beacons(self.service, e2e.INSTANCE_HOST, "load", since),
                     what="the console signed in")
        return app, documents

    def print_and_wait(self, app, url, folder):
        """Opens `url`, whose page asks for a print, prints to a file in the print dialog as a
        user would, and waits for the page's "afterprint" and the file; returns when the page
        asked, and the file."""
        since = dialogs.now_ms()
        path = os.path.join(folder, "Velmóra.pdf")
        if os.path.exists(path):
            os.remove(path)  # else GTK asks first whether to replace it
        dialogs.open_page(self, app, url)
        dialog = dialogs.wait_for_dialog(app, what="the print dialog")
        dialogs.print_to_file(app, dialog)
        dialogs.wait_for_no_dialog(app)
        e2e.wait_for(lambda: dialogs.beacons(self.service, e2e.INSTANCE_HOST, "afterprint", since),
                     what="afterprint in the page")
        e2e.wait_for(lambda: os.path.exists(path) and dialogs.pdf_info(path),
                     what="the printed file %s" % path)
        return since, path

    def afterprints(self, since):
        """The afterprint events the print test page heard: WebKit's own (trusted) when it
        printed the page, or the application's."""
        time.sleep(0.5)  # nothing more follows
        return [r for r in dialogs.reports(self.service, "print", since) if r.get("event") == "afterprint"]

    def assert_on_a4_paper(self, sizes):
        for width, height in sizes:
            self.assertAlmostEqual(width, 595.3, delta=1)
            self.assertAlmostEqual(height, 841.9, delta=1)

    def test_the_consoles_print_button_prints_the_page(self):
        app, folder = self.start_signed_in()
        since, path = self.print_and_wait(app, dialogs.instance_url("/admin?imprimer=page"), folder)
        time.sleep(0.5)
        self.assertEqual(len(dialogs.beacons(self.service, e2e.INSTANCE_HOST, "afterprint", since)), 1,
                         "one afterprint: the engine's, not the application's too")
        pages, sizes = dialogs.pdf_info(path)
        self.assertGreaterEqual(pages, 1)
        self.assert_on_a4_paper(sizes)
        text = dialogs.pdf_text(path)
        self.assertIn(dialogs.squeezed("Rendez-vous du jour"), text)
        self.assertNotIn(dialogs.squeezed("Facture n° 2026-001"), text)

    def test_the_invoice_button_prints_both_pages_of_the_pdf(self):
        app, folder = self.start_signed_in()
        since, path = self.print_and_wait(app, dialogs.instance_url("/admin?imprimer=facture"), folder)
        time.sleep(0.5)
        self.assertEqual(len(dialogs.beacons(self.service, e2e.INSTANCE_HOST, "afterprint", since)), 1,
                         "the application's afterprint, once")
        pages, sizes = dialogs.pdf_info(path)
        self.assertEqual(pages, 2)
        # The landscape second page is turned onto the portrait paper, like the first.
        self.assert_on_a4_paper(sizes)
        text = dialogs.pdf_text(path)
        self.assertIn(dialogs.squeezed("Facture n° 2026-001"), text)
        self.assertIn(dialogs.squeezed("Détail des prestations"), text)
        self.assertNotIn(dialogs.squeezed("Rendez-vous du jour"), text)

    def test_unusable_pdf_messages_print_the_page_instead(self):
        app, folder = self.start_signed_in()
        for body in ("facture-en-lignes", "pas-un-pdf", "nombre"):
            with self.subTest(body=body):
                since, path = self.print_and_wait(app, dialogs.instance_url("/test/print.html?envoi=" + body), folder)
                sent = dialogs.wait_for_report(self.service, "print", lambda r: r.get("sent") == body, since)
                self.assertIsNone(sent["error"])
                self.assertEqual(len(self.afterprints(since)), 1)
                text = dialogs.pdf_text(path)
                self.assertIn(dialogs.squeezed("Impression"), text)
                self.assertNotIn(dialogs.squeezed("Facture n° 2026-001"), text)

    def test_a_cancelled_print_dialog_still_ends_with_afterprint(self):
        app, _ = self.start_signed_in()
        for what in ("page", "facture"):
            with self.subTest(what=what):
                since = dialogs.now_ms()
                dialogs.open_page(self, app, dialogs.instance_url("/admin?imprimer=" + what))
                dialog = dialogs.wait_for_dialog(app, what="the print dialog")
                time.sleep(0.5)
                self.assertEqual(dialogs.beacons(self.service, e2e.INSTANCE_HOST, "afterprint", since), [])
                dialogs.answer(app, dialog, keys=["Escape"])
                e2e.wait_for(lambda: dialogs.beacons(self.service, e2e.INSTANCE_HOST, "afterprint", since),
                             what="afterprint after the cancel")
                dialogs.wait_for_no_dialog(app)
                time.sleep(0.5)
                self.assertEqual(len(dialogs.beacons(self.service, e2e.INSTANCE_HOST, "afterprint", since)), 1)


if __name__ == "__main__":
    e2e.main()
