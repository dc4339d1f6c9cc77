; Helpers shared by the end-to-end cases. scripts/e2e.sh loads this file and
; then one case file into a fresh Script-Fu environment, and calls
; (e2e-run "name"), which writes $E2E_RESULTS/name.out:
;   BEGIN name
;   PASS <check>            or   FAIL <check> TAB <expected> TAB <got>
;   TIME <group> <ms>, TIME-TOTAL <calls> <ms in calls> <ms reading> <ms checking>
;   END name
; A missing END means the batch died; scripts/e2e.sh counts that as a failure.

;; ------------------------------------------------------------ reporting

(define e2e-port #f)
(define e2e-group-name "")
(define e2e-last-error #f)

; Keep the text of the latest error, so an aborted group can say why.
(define e2e-saved-error-hook *error-hook*)
(set! *error-hook*
      (lambda args
        (set! e2e-last-error args)
        (apply e2e-saved-error-hook args)))

(define (e2e-repr x)
  (if (string? x)
      x
      (let ((p (open-output-string)))
        (write x p)
        (get-output-string p))))

(define (e2e-line . parts)
  (for-each (lambda (s) (display s e2e-port)) parts)
  (newline e2e-port))

(define (e2e-report name ok expected got)
  (let ((full (string-append e2e-group-name "/" name)))
    (if ok
        (if (string? expected)
            (e2e-line "PASS " full "\t" expected)
            (e2e-line "PASS " full))
        (e2e-line "FAIL " full "\t" (e2e-repr expected) "\t" (e2e-repr got)))
    ok))

; Numbers compare by value (GIMP answers 100.0 where 100 is meant), lists
; and vectors element by element.
(define (e2e-same? a b)
  (cond ((and (number? a) (number? b)) (= a b))
        ((and (pair? a) (pair? b))
         (and (e2e-same? (car a) (car b)) (e2e-same? (cdr a) (cdr b))))
        ((and (vector? a) (vector? b))
         (e2e-same? (vector->list a) (vector->list b)))
        (else (equal? a b))))

(define (check name expected actual)
  (e2e-report name (e2e-same? expected actual) expected actual))

(define (e2e-image-ids) (vector->list (cadr (gimp-image-list))))

(define (e2e-ms) (let ((t (gettimeofday))) (+ (* 1000 (car t)) (quotient (cadr t) 1000))))

; Where the time goes, reported at the end of each file: plug-in calls,
; reading pixels back, and the rest of the pixel checks (mostly the model).
(define e2e-calls 0)
(define e2e-call-start #f)
(define e2e-time-calls 0)
(define e2e-time-read 0)
(define e2e-time-checks 0)

(define (e2e-call-done)
  (if e2e-call-start
      (begin (set! e2e-calls (+ e2e-calls 1))
             (set! e2e-time-calls (+ e2e-time-calls (- (e2e-ms) e2e-call-start)))
             (set! e2e-call-start #f))))

; A group runs its body; an error inside it fails the group and the file goes
; on with the next one. Images the group leaves behind are deleted, so that
; GIMP never reports leaked buffers for an aborted group.
(define (group name body)
  (let ((before (e2e-image-ids)) (t0 (e2e-ms)))
    (set! e2e-group-name name)
    (set! e2e-last-error #f)
    (if (eq? (catch 'aborted (body) 'done) 'aborted)
        (begin
          (e2e-call-done)
          (e2e-report "runs to the end" #f "no error"
                      (if e2e-last-error e2e-last-error "an error"))))
    (for-each (lambda (id) (if (not (memv id before)) (gimp-image-delete id)))
              (e2e-image-ids))
    (e2e-line "TIME " name " " (number->string (- (e2e-ms) t0)))
    (set! e2e-group-name "")))

(define (e2e-run name)
  (set! e2e-port
        (open-output-file (string-append (getenv "E2E_RESULTS") "/" name ".out")))
  (e2e-line "BEGIN " name)
  (set! e2e-group-name name)
  (if (eq? (catch 'aborted (e2e-cases) 'done) 'aborted)
      (e2e-report "file runs to the end" #f "no error"
                  (if e2e-last-error e2e-last-error "an error")))
  (for-each gimp-image-delete (e2e-image-ids))
  (e2e-line "TIME-TOTAL " e2e-calls " " e2e-time-calls " " e2e-time-read " "
            e2e-time-checks)
  (e2e-line "END " name)
  (close-output-port e2e-port))

;; ------------------------------------------------------------ small tools

(define (iota n)
  (let loop ((i (- n 1)) (acc '()))
    (if (< i 0) acc (loop (- i 1) (cons i acc)))))

(define (flatten-points pts) (apply append pts))

(define (int x) (inexact->exact (floor x)))

(define (layers-of image) (vector->list (cadr (gimp-image-get-layers image))))

(define (channels-of image) (vector->list (cadr (gimp-image-get-channels image))))

(define (children-of item) (vector->list (cadr (gimp-item-get-children item))))

; The procedure under test, with the quadrangles as lists of four (x y).
(define (tessaform-run mode image drawable src dst interpolation)
  (set! e2e-call-start (e2e-ms))
  (let ((answer (apply plug-in-tessaform
                       (append (list mode image drawable "e2e")
                               (flatten-points src) (flatten-points dst)
                               (list interpolation 0 0)))))
    (e2e-call-done)
    answer))

(define (tessaform image drawable src dst interpolation)
  (car (tessaform-run RUN-NONINTERACTIVE image drawable src dst interpolation)))

; #f when the call fails, as refusals must.
(define (tessaform-caught image drawable src dst interpolation)
  (let ((answer (catch #f (tessaform image drawable src dst interpolation))))
    (e2e-call-done)
    answer))

(define (rect x0 y0 x1 y1) (list (list x0 y0) (list x1 y0) (list x1 y1) (list x0 y1)))

; Offsets, size, type, name and every pixel of a layer.
(define (layer-facts layer)
  (let ((w (car (gimp-drawable-width layer))) (h (car (gimp-drawable-height layer))))
    (list (gimp-drawable-offsets layer) w h (car (gimp-drawable-type layer))
          (car (gimp-item-get-name layer)) (read-pixels layer w h))))

; A call (a thunk answering a layer ID) that must be refused: it fails, and
; no layer is added.
(define (check-refused name image call)
  (let* ((before (layers-of image))
         (answer (catch #f (call))))
    (e2e-call-done)
    (check (string-append name ": refused") #f answer)
    (check (string-append name ": no layer added") before (layers-of image))))

; Control points of a stroke through the anchors, handles set apart from
; them so that a handle read as an anchor would show.
(define (stroke-points anchors)
  (apply append
         (map (lambda (a)
                (list (- (px a) 1) (- (py a) 3) (px a) (py a) (+ (px a) 2) (+ (py a) 5)))
              anchors)))

; A path of the image with one stroke per list of anchors.
(define (make-path image strokes)
  (let ((path (car (gimp-vectors-new image "quad"))))
    (gimp-image-insert-vectors image path 0 -1)
    (for-each (lambda (anchors)
                (let ((points (stroke-points anchors)))
                  (gimp-vectors-stroke-new-from-points
                   path 0 (length points) (list->vector (map exact->inexact points)) 0)))
              strokes)
    path))

;; ------------------------------------------------------------ test images

(define (channels-of-type type)
  (cond ((= type RGB-IMAGE) 3) ((= type RGBA-IMAGE) 4)
        ((= type GRAY-IMAGE) 1) ((= type GRAYA-IMAGE) 2)))

(define (base-of-type type)
  (if (or (= type GRAY-IMAGE) (= type GRAYA-IMAGE)) GRAY RGB))

; A source image: one layer of the given type, size and offsets.
; Returns (image layer).
(define (make-image width height type layer-width layer-height ox oy precision)
  (let* ((image (car (if precision
                         (gimp-image-new-with-precision width height
                                                        (base-of-type type) precision)
                         (gimp-image-new width height (base-of-type type)))))
         (layer (car (gimp-layer-new image layer-width layer-height type "src"
                                     100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer image layer 0 -1)
    (gimp-layer-set-offsets layer ox oy)
    (list image layer)))

; Channel values of a patterned drawable, in its own coordinates. Neighbours
; differ in every channel (by 29 across, 7 down), so a pixel taken from the
; wrong place shows; alpha never reaches 0.
(define (pattern-value nch)
  (lambda (x y c)
    (if (and (= c (- nch 1)) (even? nch))
        (+ 128 (modulo (+ (* 13 x) (* 5 y)) 128))
        (modulo (+ (* 29 x) (* 7 y) (* 71 c) 13) 256))))

(define (flat-value color) (lambda (x y c) (list-ref color c)))

; 16-bit drawables take each 8-bit value v as v * 257: both bytes equal v.
(define (wide bytes) (apply append (map (lambda (v) (list v v)) bytes)))

(define (fill-drawable drawable nch value bits16)
  (let ((w (car (gimp-drawable-width drawable)))
        (h (car (gimp-drawable-height drawable))))
    (for-each
     (lambda (y)
       (for-each
        (lambda (x)
          (let ((bytes (map (lambda (c) (value x y c)) (iota nch))))
            (if bits16
                (gimp-drawable-set-pixel drawable x y (* 2 nch) (list->vector (wide bytes)))
                (gimp-drawable-set-pixel drawable x y nch (list->vector bytes)))))
        (iota w)))
     (iota h))))

(define (pixel-of drawable x y)
  (vector->list (cadr (gimp-drawable-get-pixel drawable x y))))

; Every pixel of a drawable as a vector, row by row. A 1:1 sub-thumbnail of an
; 8-bit drawable holds its bytes unchanged and comes in one call instead of
; one per pixel; a few pixels are also read singly, and a disagreement fails.
; Other precisions are read pixel by pixel.
(define (read-pixels drawable w h)
  (let ((bpp (car (gimp-drawable-bpp drawable)))
        (precision (car (gimp-image-get-precision (car (gimp-item-get-image drawable))))))
    (if (or (not (= precision PRECISION-U8-GAMMA)) (> w 1024) (> h 1024) (= w 0) (= h 0))
        (list->vector
         (apply append
                (map (lambda (y) (map (lambda (x) (pixel-of drawable x y)) (iota w)))
                     (iota h))))
        (let* ((thumb (gimp-drawable-sub-thumbnail drawable 0 0 w h w h))
               (data (list-ref thumb 4))
               (pixels (make-vector (* w h) '())))
          (do ((i 0 (+ i 1))) ((= i (* w h)))
            (vector-set! pixels i
                         (let loop ((c (- bpp 1)) (acc '()))
                           (if (< c 0)
                               acc
                               (loop (- c 1) (cons (vector-ref data (+ (* i bpp) c)) acc))))))
          (for-each
           (lambda (xy)
             (let* ((x (car xy)) (y (cadr xy))
                    (fast (vector-ref pixels (+ x (* y w)))) (slow (pixel-of drawable x y)))
               (if (not (equal? fast slow))
                   (e2e-report "read back: thumbnail agrees with single-pixel reads" #f
                               (list 'layer-pixel x y slow) fast))))
           (list (list 0 0) (list (- w 1) (- h 1)) (list (quotient w 2) (quotient h 2))
                 (list (quotient w 3) (quotient (* 2 h) 3))))
          pixels))))

; Compares a drawable with what `expect' gives for each of its pixels, in
; drawable coordinates: a list of bytes, 'ambiguous for a pixel whose outcome
; a rounding could flip (counted, not compared), or 'any for a pixel the
; check does not cover.
(define (check-pixels name drawable expect)
  (let* ((t0 (e2e-ms))
         (w (car (gimp-drawable-width drawable)))
         (h (car (gimp-drawable-height drawable)))
         (pixels (read-pixels drawable w h))
         (t1 (e2e-ms))
         (bad '()) (nbad 0) (nsure 0) (nambiguous 0))
    (for-each
     (lambda (y)
       (for-each
        (lambda (x)
          (let ((want (expect x y)))
            (cond
             ((eq? want 'any))
             ((eq? want 'ambiguous) (set! nambiguous (+ nambiguous 1)))
             (else
              (let ((got (vector-ref pixels (+ x (* y w)))))
                (set! nsure (+ nsure 1))
                (if (not (equal? want got))
                    (begin
                      (set! nbad (+ nbad 1))
                      (if (< (length bad) 4)
                          (set! bad (append bad (list (list (list x y) 'want want 'got got))))))))))))
        (iota w)))
     (iota h))
    (set! e2e-time-read (+ e2e-time-read (- t1 t0)))
    (set! e2e-time-checks (+ e2e-time-checks (- (e2e-ms) t1)))
    (e2e-report name (= nbad 0)
                (string-append "all " (number->string nsure) " pixels as modelled")
                (string-append (number->string nbad) " differ, first (layer x y): "
                               (e2e-repr bad)))
    ; A model that hedges on many pixels would make the comparison hollow.
    (if (> (* 20 nambiguous) (* w h))
        (e2e-report (string-append name " (decidable)") #f
                    "at most 5% of pixels within rounding of a decision"
                    (string-append (number->string nambiguous) " of "
                                   (number->string (* w h)))))))

;; ------------------------------------------------------------ geometry model
;
; An independent model of the result: a destination pixel (x, y) is written
; when its centre lies inside the destination quadrangle grown by 1.0, its
; source position (the bilinear map of the centre) lies within a pixel of the
; source box (the grown source quadrangle's box clipped to the drawable) and
; inside the grown source quadrangle. Samples outside the
; source box repeat its edge pixels.

(define (pt x y) (list (exact->inexact x) (exact->inexact y)))
(define (px p) (car p))
(define (py p) (cadr p))

(define (quad-centre q)
  (pt (/ (apply + (map px q)) 4) (/ (apply + (map py q)) 4)))

(define (quad-grow q)
  (let ((c (quad-centre q)))
    (map (lambda (p)
           (let* ((dx (- (px p) (px c))) (dy (- (py p) (py c)))
                  (len (sqrt (+ (* dx dx) (* dy dy)))))
             (if (= len 0)
                 (pt (px p) (py p))
                 (let ((f (+ 1 (/ 1.0 len))))
                   (pt (+ (px c) (* dx f)) (+ (py c) (* dy f)))))))
         q)))

; (x0 y0 x1 y1), x1 and y1 exclusive.
(define (quad-box q)
  (list (int (apply min (map px q))) (int (apply min (map py q)))
        (+ (inexact->exact (ceiling (apply max (map px q)))) 1)
        (+ (inexact->exact (ceiling (apply max (map py q)))) 1)))

(define (box-clip a b)
  (list (max (car a) (car b)) (max (cadr a) (cadr b))
        (min (caddr a) (caddr b)) (min (cadddr a) (cadddr b))))

(define (quad-edges q) (map list q (append (cdr q) (list (car q)))))

(define (cross ax ay bx by) (- (* ax by) (* ay bx)))

; Which side of a convex quadrangle a point lies on, in either corner order:
; a procedure of (x y) answering 'in, 'out, or 'edge for a point within eps
; of an edge that no other edge puts outside. Edge lines are set up once,
; each oriented so the inside has positive distance.
(define (quad-tester q eps)
  (let* ((c (quad-centre q))
         (turns (map (lambda (e f)
                       (cross (- (px (cadr e)) (px (car e))) (- (py (cadr e)) (py (car e)))
                              (- (px (cadr f)) (px (car f))) (- (py (cadr f)) (py (car f)))))
                     (quad-edges q) (append (cdr (quad-edges q)) (list (car (quad-edges q))))))
         (lines
          (map (lambda (e)
                 (let* ((a (car e)) (b (cadr e))
                        (ex (- (px b) (px a))) (ey (- (py b) (py a)))
                        (len (sqrt (+ (* ex ex) (* ey ey))))
                        (nx (/ (- ey) len)) (ny (/ ex len))
                        (off (+ (* nx (px a)) (* ny (py a))))
                        (s (if (> (+ (* nx (px c)) (* ny (py c))) off) 1.0 -1.0)))
                   (vector (* s nx) (* s ny) (* s off))))
               (quad-edges q))))
    (if (not (or (apply = (cons 1 (map (lambda (t) (if (> t 0) 1 0)) turns)))
                 (apply = (cons 1 (map (lambda (t) (if (< t 0) 1 0)) turns)))))
        (error "the model handles convex quadrangles only" q))
    (lambda (x y)
      (let loop ((ls lines) (result 'in))
        (if (null? ls)
            result
            (let* ((l (car ls))
                   (d (- (+ (* (vector-ref l 0) x) (* (vector-ref l 1) y)) (vector-ref l 2))))
              (cond ((< d (- eps)) 'out)
                    ((< d eps) (loop (cdr ls) 'edge))
                    (else (loop (cdr ls) result)))))))))

(define (quad-inside? q x y) (not (eq? ((quad-tester q 0) x y) 'out)))

; P = (1-u)(1-v) q0 + u(1-v) q1 + u v q2 + (1-u) v q3.
(define (bilinear q u v)
  (let ((w0 (* (- 1 u) (- 1 v))) (w1 (* u (- 1 v))) (w2 (* u v)) (w3 (* (- 1 u) v)))
    (pt (+ (* w0 (px (car q))) (* w1 (px (cadr q))) (* w2 (px (caddr q))) (* w3 (px (cadddr q))))
        (+ (* w0 (py (car q))) (* w1 (py (cadr q))) (* w2 (py (caddr q))) (* w3 (py (cadddr q)))))))

(define (distance-from-unit t) (cond ((< t 0) (- t)) ((> t 1) (- t 1)) (else 0)))

; A procedure giving (u v) of a point. With R = P - q0, A = q1 - q0,
; B = q3 - q0 and K = q0 - q1 + q2 - q3, R = uA + vB + uvK; crossing with
; B + uK removes v and leaves c2 u^2 + c1 u + c0 = 0, whose root nearer to
; [0, 1] is the wanted one; v then follows along B + uK.
(define (inverse-bilinear q)
  (let* ((q0 (car q)) (q1 (cadr q)) (q2 (caddr q)) (q3 (cadddr q))
         (ax (- (px q1) (px q0))) (ay (- (py q1) (py q0)))
         (bx (- (px q3) (px q0))) (by (- (py q3) (py q0)))
         (kx (+ (px q0) (- (px q1)) (px q2) (- (px q3))))
         (ky (+ (py q0) (- (py q1)) (py q2) (- (py q3))))
         (c2 (- (cross ax ay kx ky)))
         (cab (cross ax ay bx by)))
    (lambda (x y)
      (let* ((rx (- x (px q0))) (ry (- y (py q0)))
             (c1 (- (cross rx ry kx ky) cab))
             (c0 (cross rx ry bx by))
             (u (if (< (abs c2) (* 1e-12 (+ (abs c1) 1e-300)))
                    (/ (- c0) c1)
                    (let* ((d (- (* c1 c1) (* 4 c2 c0))) (disc (if (< d 0) 0 d))
                           (h (* -0.5 (+ c1 (if (< c1 0) (- (sqrt disc)) (sqrt disc)))))
                           (r1 (/ h c2))
                           (r2 (if (= h 0) r1 (/ c0 h))))
                      (if (< (distance-from-unit r2) (distance-from-unit r1)) r2 r1))))
             (dx (+ bx (* u kx))) (dy (+ by (* u ky)))
             (ex (- rx (* u ax))) (ey (- ry (* u ay)))
             (v (/ (+ (* ex dx) (* ey dy)) (+ (* dx dx) (* dy dy)))))
        (list u v)))))


; A source: drawable offsets, size, channel count and channel values in
; drawable coordinates.
(define (source ox oy w h nch value) (list ox oy w h nch value))
(define (source-box s)
  (list (car s) (cadr s) (+ (car s) (caddr s)) (+ (cadr s) (cadddr s))))

; Rounding of the plug-in's single-precision source positions and kernels
; stays far below these margins.
(define e2e-eps-dst 1e-6)
(define e2e-eps-src 1e-3)
(define e2e-eps-value 2e-3)

(define (near-integer? v eps) (< (abs (- v (round v))) eps))

; Script-Fu's min and max are slow generic procedures; this runs per channel.
(define (clamp v lo hi) (cond ((< v lo) lo) ((> v hi) hi) (else v)))

; Value of channel c of the image pixel (i, j), repeating the source box's
; edge pixels beyond it.
(define (source-at s box i j c)
  ((list-ref s 5)
   (- (clamp i (car box) (- (caddr box) 1)) (car s))
   (- (clamp j (cadr box) (- (cadddr box) 1)) (cadr s))
   c))

(define (sample kernel s box sx sy)
  (let ((nch (list-ref s 4)))
    (cond
     ((eq? kernel 'flat)
      (map (lambda (c) (source-at s box (int sx) (int sy) c)) (iota nch)))
     ((eq? kernel 'nearest)
      (if (or (near-integer? sx e2e-eps-src) (near-integer? sy e2e-eps-src))
          'ambiguous
          (map (lambda (c) (source-at s box (int sx) (int sy) c)) (iota nch))))
     ; Colour weighted by alpha (the last channel when there are 2 or 4).
     ((eq? kernel 'bilinear)
      (let* ((ix (int (- sx 0.5))) (iy (int (- sy 0.5)))
             (dx (- sx 0.5 ix)) (dy (- sy 0.5 iy))
             (a (if (even? nch) (- nch 1) #f))
             (weigh (lambda (i j c)
                      (if (and a (not (= c a)))
                          (* (source-at s box i j c) (source-at s box i j a))
                          (source-at s box i j c))))
             (mix (lambda (c)
                    (+ (* (- 1 dy) (+ (* (- 1 dx) (weigh ix iy c))
                                      (* dx (weigh (+ ix 1) iy c))))
                       (* dy (+ (* (- 1 dx) (weigh ix (+ iy 1) c))
                                (* dx (weigh (+ ix 1) (+ iy 1) c)))))))
             (alpha (if a (mix a) 1))
             (vals
              (map (lambda (c)
                     (let* ((v (+ (if (and a (not (= c a))) (/ (mix c) alpha) (mix c))
                                  0.5)))
                       (if (near-integer? v e2e-eps-value)
                           'ambiguous
                           (clamp (int v) 0 255))))
                   (iota nch))))
        (if (memq (quote ambiguous) vals) (quote ambiguous) vals))))))

; The box test on the exact position: a pixel wider than the box each side.
(define (in-box? v lo hi) (and (> v (- lo 1)) (< v (+ hi 1))))

; Is v on the same side of the box test within the margin?
(define (box-decided? v lo hi)
  (eq? (in-box? (- v e2e-eps-src) lo hi) (in-box? (+ v e2e-eps-src) lo hi)))

; The modelled result: (x0 y0 width height expect), where expect takes image
; coordinates and gives the pixel's channel values, 'unwritten or 'ambiguous.
(define (model src dst kernel s)
  (let* ((gs (quad-grow src)) (gd (quad-grow dst))
         (dbox (quad-box gd))
         (sbox (box-clip (quad-box gs) (source-box s)))
         (dst-side (quad-tester gd e2e-eps-dst))
         (src-side (quad-tester gs e2e-eps-src))
         (dst-uv (inverse-bilinear dst)))
    (list (car dbox) (cadr dbox)
          (- (caddr dbox) (car dbox)) (- (cadddr dbox) (cadr dbox))
          (lambda (x y)
            (let* ((cx (+ x 0.5)) (cy (+ y 0.5)) (side (dst-side cx cy)))
              (cond
               ((eq? side 'edge) 'ambiguous)
               ((eq? side 'out) 'unwritten)
               (else
                (let* ((uv (dst-uv cx cy))
                       (sp (bilinear src (car uv) (cadr uv))) (sx (px sp)) (sy (py sp)))
                  (cond
                   ((not (and (box-decided? sx (car sbox) (caddr sbox))
                              (box-decided? sy (cadr sbox) (cadddr sbox))))
                    'ambiguous)
                   ((not (and (in-box? sx (car sbox) (caddr sbox))
                              (in-box? sy (cadr sbox) (cadddr sbox))))
                    'unwritten)
                   (else
                    (let ((side (src-side sx sy)))
                      (cond ((eq? side 'edge) 'ambiguous)
                            ((eq? side 'out) 'unwritten)
                            (else (sample kernel s sbox sx sy))))))))))))))

; The pixels of a new layer as the model has them: unwritten pixels hold
; zeros (transparent, or black without alpha).
(define (expect-layer m nch bits16)
  (let ((x0 (car m)) (y0 (cadr m)) (f (list-ref m 4)))
    (lambda (x y)
      (let ((v (f (+ x x0) (+ y y0))))
        (cond ((eq? v 'ambiguous) v)
              ((eq? v 'unwritten) (map (lambda (c) 0) (iota (if bits16 (* 2 nch) nch))))
              (bits16 (wide v))
              (else v))))))

; Everything about the layer that a call returned: its place in the stack,
; name, type, opacity, mode, offsets, size and pixels, against the model.
; The layer is removed afterwards: GIMP would give the next result of the
; same drawable a numbered name ("src__ #1") to keep names unique.
(define (check-new-layer name image drawable layer src dst kernel s bits16)
  (let* ((m (model src dst kernel s))
         (nch (list-ref s 4)))
    (check (string-append name ": returned layer is directly above the drawable")
           (list (car (gimp-item-get-parent drawable))
                 (- (car (gimp-image-get-item-position image drawable)) 1))
           (list (car (gimp-item-get-parent layer))
                 (car (gimp-image-get-item-position image layer))))
    (check (string-append name ": name")
           (string-append (car (gimp-item-get-name drawable)) "__")
           (car (gimp-item-get-name layer)))
    (check (string-append name ": type")
           (car (gimp-drawable-type drawable)) (car (gimp-drawable-type layer)))
    (check (string-append name ": opacity") 100.0 (car (gimp-layer-get-opacity layer)))
    (check (string-append name ": mode (legacy normal)") 0 (car (gimp-layer-get-mode layer)))
    (check (string-append name ": offsets") (list (car m) (cadr m))
           (gimp-drawable-offsets layer))
    (check (string-append name ": size") (list (caddr m) (cadddr m))
           (list (car (gimp-drawable-width layer)) (car (gimp-drawable-height layer))))
    (if (and (= (caddr m) (car (gimp-drawable-width layer)))
             (= (cadddr m) (car (gimp-drawable-height layer))))
        (check-pixels (string-append name ": pixels") layer (expect-layer m nch bits16)))
    (gimp-image-remove-layer image layer)))

; The drawable still holds the values it was filled with.
(define (check-source-intact name drawable nch value bits16)
  (check-pixels name drawable
                (lambda (x y)
                  (let ((v (map (lambda (c) (value x y c)) (iota nch))))
                    (if bits16 (wide v) v)))))
