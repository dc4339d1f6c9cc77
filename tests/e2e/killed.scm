; Calls killed in the middle of a large warp leave the image as it was, and
; leave nothing alive in GIMP once a later call has run. scripts/e2e.sh runs
; a watcher beside GIMP: each time this file writes a "kill-armed-N" marker,
; it waits until the plug-in has worked a while and sends it SIGKILL; for a
; "memory-NAME" marker it writes GIMP's resident memory to "memory-NAME.kb"
; and this file waits for it. Expect six "Plug-in crashed" (or, killed
; mid-transfer, wire errors) in GIMP's output; scripts/e2e.sh compares the
; memory before the second round of kills with the memory after it.

(define (e2e-tree image)
  (map (lambda (item)
         (list item (car (gimp-item-get-name item))
               (if (= 1 (car (gimp-item-is-group item))) (children-of item) '())))
       (layers-of image)))

(define (e2e-marker name)
  (let ((port (open-output-file (string-append (getenv "E2E_RESULTS") "/" name))))
    (display name port)
    (close-output-port port)))

; Waits until the watcher has answered `name` with its file.
(define (e2e-await name)
  (let loop ((tries 0))
    (if (and (< tries 2000000)
             (not (catch #f (let ((port (open-input-file (string-append (getenv "E2E_RESULTS") "/" name))))
                              (close-input-port port)
                              #t))))
        (loop (+ tries 1)))))

(define (e2e-memory name)
  (e2e-marker (string-append "memory-" name))
  (e2e-await (string-append "memory-" name ".kb")))

; Layers of the image that are not in its stack: what a killed call leaves.
(define (e2e-unplaced image first-id)
  (let loop ((id first-id) (found '()))
    (if (> id (+ first-id 40))
        (reverse found)
        (loop (+ id 1)
              (if (and (= 1 (car (gimp-item-is-valid id)))
                       (= 1 (car (gimp-item-is-layer id)))
                       (= -1 (car (gimp-item-get-parent id)))
                       (not (memv id (layers-of image))))
                  (cons id found)
                  found)))))

(define (e2e-cases)
  (group "killed mid-render"
    (lambda ()
      (let* ((im (make-image 600 600 GRAY-IMAGE 600 600 0 0 #f))
             (image (car im)) (src (cadr im))
             (group-layer (car (gimp-layer-group-new image)))
             (top (car (gimp-layer-new image 8 8 GRAY-IMAGE "top" 100 LAYER-MODE-NORMAL))))
        (gimp-image-insert-layer image group-layer 0 0)
        (gimp-image-reorder-item image src group-layer 0)
        (gimp-image-insert-layer image top 0 0)
        ; One whole call first, so that GIMP's memory holds what any call
        ; leaves behind before it is measured.
        (gimp-image-remove-layer image (tessaform image src (rect 0 0 600 600) (rect 0 0 3000 3000) 1))
        (let ((before (e2e-tree image)))
          ; Three calls killed after about a second of their work (about 150
          ; million destination pixels each: seconds of it), then one call,
          ; which deletes what they left. A round warms GIMP's heap, which
          ; keeps the pages of freed tiles for reuse: the second round,
          ; measured, must not need more.
          (define (round kills)
            (for-each
             (lambda (n)
               (e2e-marker (string-append "kill-armed-" n))
               (check (string-append "killed call " n " fails") #f
                      (tessaform-caught image src (rect 0 0 600 600)
                                        (rect 0 0 12000 12000) 1))
               (check (string-append "after kill " n ": layer tree as before")
                      before (e2e-tree image)))
             kills)
            (check "the killed calls left unplaced layers behind" #t
                   (pair? (e2e-unplaced image (+ top 1))))
            ; The plug-in starts afresh for the next call, which deletes them.
            (let ((layer (tessaform image src (rect 0 0 600 600) (rect 0 0 60 60) 1)))
              (check "the next call adds its layer into the group"
                     (list layer src) (children-of group-layer))
              (check "no layer of a killed call is left alive" '()
                     (e2e-unplaced image (+ top 1)))
              (gimp-image-remove-layer image layer)))
          (round (list "1" "2" "3"))
          (e2e-memory "before")
          (round (list "4" "5" "6"))
          (e2e-memory "after"))))))
