; Shrinks of fine patterns inside one headless GIMP run, driven by
; scripts/bench-aa.sh: GIMP's perspective transform (linear, NoHalo, LoHalo)
; and plug-in-tessaform (bilinear, anti-aliasing off and on),
; each call timed whole, its layer saved as a GIMP pattern for aa_bench to
; score. GIMP loads and saves patterns itself, without a plug-in process.
; bench/common.scm is loaded first.
;
; Environment: AA_DIR, the folder aa_bench --write-cases filled (cases.scm
; and the patterns); results.txt and the saved layers go there too.
; Records, one a line:  NAME SIZE SHRINK METHOD SECONDS X Y FILE
; with SECONDS "fail" for a failed call, and a last "done".

(define aa-dir (getenv "AA_DIR"))
(load (string-append aa-dir "/cases.scm"))
(define aa-port (open-output-file (string-append aa-dir "/results.txt")))

(define (record . fields) (write-record aa-port fields))

; Runs a call AA_BENCH_RUNS times (default 1), keeping the fastest: each
; run calls make-thunk for a thunk answering a layer or #f. The last layer
; is saved; every layer is removed.
(define aa-runs
  (let ((n (string->number (or (getenv "AA_BENCH_RUNS") ""))))
    (if (and n (> n 0)) n 1)))

(define (timed img entry method make-thunk)
  (let loop ((run 1) (best #f))
    (let* ((thunk (make-thunk))
           (t0 (gettimeofday))
           (layer (thunk))
           (t (seconds-between t0 (gettimeofday)))
           (best (if best (min best t) t))
           (file (string-append aa-dir "/" (car entry) "-" (cadr entry) "-"
                                (number->string (caddr entry)) "-" method ".pat")))
      (cond ((not (and layer (= (car (gimp-item-is-valid layer)) TRUE)))
             (record (car entry) (cadr entry) (caddr entry) method "fail" 0 0 "-"))
            ((< run aa-runs)
             (gimp-image-remove-layer img layer))
            (else
             (let ((offsets (gimp-drawable-offsets layer)))
               (file-pat-save RUN-NONINTERACTIVE img layer file file method)
               (record (car entry) (cadr entry) (caddr entry) method best
                       (car offsets) (cadr offsets) file)
               (gimp-image-remove-layer img layer))))
      (forget-undo img)
      (when (and layer (< run aa-runs)) (loop (+ run 1) best)))))

(define gimp-methods
  (list (list "gimp-linear" INTERPOLATION-LINEAR)
        (list "gimp-nohalo" INTERPOLATION-NOHALO)
        (list "gimp-lohalo" INTERPOLATION-LOHALO)))
(define plugin-kernels (list (list "linear" 1)))

(define (run-entry img layer entry)
  (let* ((w (car (gimp-drawable-width layer)))
         (h (car (gimp-drawable-height layer)))
         (src (list 0 0 w 0 w h 0 h))
         (dst (list-ref entry 4)))
    (for-each
     (lambda (m)
       (timed img entry (car m)
              (lambda () (perspective-thunk img layer dst (cadr m)))))
     gimp-methods)
    (for-each
     (lambda (aa)
       (for-each
        (lambda (k)
          (timed img entry
                 (string-append "plugin-" (car k) (if (= aa 1) "-aa" ""))
                 (lambda ()
                   (plugin-thunk plug-in-tessaform img layer src dst (cadr k) aa))))
        plugin-kernels))
     (list 0 1))))

(define (load-pattern file)
  (let* ((img (car (file-pat-load RUN-NONINTERACTIVE file file)))
         (layer (vector-ref (cadr (gimp-image-get-layers img)) 0)))
    (forget-undo img)
    (list img layer)))

; Warm-up, left out of the figures: starts the plug-in binary once, and
; runs GIMP's transform of this layer once (its first call costs seconds
; more than the next ones).
(define (warm-up img layer dst)
  ((plugin-thunk plug-in-tessaform img layer (list 0 0 2 0 2 2 0 2)
                 (list 20 20 22 20 22 22 20 22) 1 1))
  ((perspective-thunk img layer dst INTERPOLATION-LINEAR))
  (let ((layers (cadr (gimp-image-get-layers img))))
    (do ((i 0 (+ i 1))) ((= i (vector-length layers)))
      (unless (= (vector-ref layers i) layer)
        (gimp-image-remove-layer img (vector-ref layers i)))))
  (forget-undo img))

(gimp-context-push)
(gimp-context-set-transform-direction TRANSFORM-FORWARD)
(gimp-context-set-transform-resize TRANSFORM-RESIZE-ADJUST)
; The cases come grouped by pattern file: each is loaded once.
(let loop ((cases aa-cases) (file "") (loaded #f) (warm #f))
  (if (null? cases)
      (when loaded (gimp-image-delete (car loaded)))
      (let* ((entry (car cases))
             (same (equal? (list-ref entry 3) file))
             (now (if same loaded (load-pattern (list-ref entry 3)))))
        (when (and loaded (not same)) (gimp-image-delete (car loaded)))
        (unless warm (warm-up (car now) (cadr now) (list-ref entry 4)))
        (run-entry (car now) (cadr now) entry)
        (loop (cdr cases) (list-ref entry 3) now #t))))
(gimp-context-pop)
(record "done")
(close-output-port aa-port)
