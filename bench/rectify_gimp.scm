; The 4000 x 3000 rectification in headless GIMP, driven by
; scripts/bench-rectify.sh: plug-in-tessaform-rectify (whole calls from
; Script-Fu) beside GIMP's own perspective transform of the photograph by
; the same homography, clipped to the same 4000 x 3000 frame.
; bench/common.scm is loaded first.
;
; Environment:
;   BENCH_RESULT  file that receives one record per timed call
;   BENCH_RUNS    timed runs of every case (default 3)
;   BENCH_QUAD    the photographed quadrangle, 8 numbers
;   BENCH_FRAME   where the rectification takes the photograph's frame
;                 (top-left, top-right, bottom-right, bottom-left), 8 numbers
;
; Records:  CASE INTERP RUN SECONDS LAYER-W LAYER-H, then "done".

(define bench-port (open-output-file (getenv "BENCH_RESULT")))
(define bench-runs
  (let ((n (string->number (getenv "BENCH_RUNS"))))
    (if (and n (> n 0)) n 3)))
(define (numbers name)
  (let ((port (open-input-string (getenv name))))
    (let loop ((acc '()))
      (let ((v (read port)))
        (if (eof-object? v) (reverse acc) (loop (cons v acc)))))))
(define quad (numbers "BENCH_QUAD"))
(define frame (numbers "BENCH_FRAME"))

(define (record . fields) (write-record bench-port fields))

(define (timed what interp run img thunk)
  (let* ((t0 (gettimeofday))
         (layer (thunk))
         (t1 (gettimeofday)))
    (if (and layer (= (car (gimp-item-is-valid layer)) TRUE))
        (begin
          (record what interp run (seconds-between t0 t1)
                  (car (gimp-drawable-width layer))
                  (car (gimp-drawable-height layer)))
          (gimp-image-remove-layer img layer))
        (record what interp run "fail" 0 0))
    (forget-undo img)))

(gimp-context-push)
(gimp-context-set-transform-direction TRANSFORM-FORWARD)
(gimp-context-set-transform-resize TRANSFORM-RESIZE-CLIP)

(let* ((img (car (gimp-image-new 4000 3000 RGB)))
       (layer (car (gimp-layer-new img 4000 3000 RGBA-IMAGE "Photo"
                                   100 LAYER-MODE-NORMAL)))
       (path (car (gimp-vectors-new img "Corners"))))
  (gimp-image-insert-layer img layer 0 0)
  (plug-in-plasma RUN-NONINTERACTIVE img layer 4242 2.5)
  (gimp-image-insert-vectors img path 0 -1)
  (gimp-vectors-stroke-new-from-points
   path 0 24
   (list->vector
    (let loop ((q quad) (acc '()))
      (if (null? q)
          (reverse acc)
          (loop (cddr q) (append (list (cadr q) (car q) (cadr q) (car q) (cadr q) (car q))
                                 acc)))))
   0)
  (forget-undo img)
  ; Warm-up, left out: caches the plug-in binary and the layer's tiles.
  (timed "warmup" "linear" 0 img
         (lambda () (first-or-false (catch #f (plug-in-tessaform-rectify
                                               RUN-NONINTERACTIVE img layer path
                                               4000 3000 1 0)))))
  (do ((run 1 (+ run 1))) ((> run bench-runs))
    (for-each
     (lambda (interp name gimp-interp)
       (timed "plugin" name run img
              (lambda () (first-or-false (catch #f (plug-in-tessaform-rectify
                                                    RUN-NONINTERACTIVE img layer path
                                                    4000 3000 interp 0)))))
       (timed "gimp" name run img
              (perspective-thunk img layer frame gimp-interp)))
     '(1 2) '("linear" "cubic") (list INTERPOLATION-LINEAR INTERPOLATION-CUBIC)))
  (gimp-image-delete img))

(gimp-context-pop)
(record "done" "-" 0 0 0 0)
(close-output-port bench-port)
